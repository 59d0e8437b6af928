#include "host/private_x_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace kv::host {

bool PrivateXServer::start(const std::string& screen, const std::vector<std::string>& extra) {
    stop();
    int fds[2];
    if (pipe(fds) != 0) {
        failure_ = "no pipe for Xvfb";
        return false;
    }
    std::vector<std::string> words = {"Xvfb",      "-displayfd", std::to_string(fds[1]),
                                      "-screen",   "0",          screen,
                                      "-nolisten", "tcp",        "-noreset"};
    words.insert(words.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addclose(&files, fds[0]);
    // Its own chatter would only clutter the output of whoever started it.
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    // The server starts with no signal blocked or ignored, whatever its
    // starter has, so that stop() can end it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int failed = posix_spawnp(&pid_, "Xvfb", &files, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    close(fds[1]);
    if (failed != 0) {
        pid_ = -1;
        close(fds[0]);
        failure_ = "Xvfb cannot be run (install xvfb)";
        return false;
    }
    // Xvfb writes the number once it takes connections; it closes the pipe
    // without one when it cannot start.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (poll(&p, 1, 100) <= 0) continue;
        char c = 0;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        stop();
        failure_ = "Xvfb did not start";
        return false;
    }
    display_ = ":" + number;
    return true;
}

void PrivateXServer::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    display_.clear();
}

}  // namespace kv::host
