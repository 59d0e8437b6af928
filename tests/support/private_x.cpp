// kv_private_x: kv23's private X server for the test scripts, so that they
// start one the same way kv23 snapshot and the C++ tests do.
//
//   kv_private_x [--screen WxHxD] [--xvfb ARG]... [--optional] -- COMMAND [ARG...]
//     runs COMMAND with DISPLAY naming a server of its own, then stops the
//     server; answers COMMAND's exit status. With --optional COMMAND runs
//     without a server when none starts.
//   kv_private_x [--screen WxHxD] [--xvfb ARG]...
//     prints the display and the server's process id (":N PID") on a line
//     and keeps the server until it gets SIGTERM, SIGINT or SIGHUP.
// Exits 77 (what ctest counts as skipped) when no server starts (and the
// command does not run without one).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/private_x_server.h"

extern char** environ;

namespace {

constexpr int kSkipped = 77;

// Runs the command to its end; a stop signal meanwhile is passed on to it.
int run(char** command, const sigset_t& stops) {
    // The command starts with the signals as they were before this program.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &stops);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, command[0], nullptr, &attributes, command, environ);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        std::fprintf(stderr, "kv_private_x: cannot run %s\n", command[0]);
        return 127;
    }
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 1;
        kill(pid, SIGTERM);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void ignore(int) {}

}  // namespace

int main(int argc, char** argv) {
    std::string screen = "640x480x24";
    std::vector<std::string> extra;
    bool optional = false;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--screen") == 0 && i + 1 < argc) {
            screen = argv[++i];
        } else if (std::strcmp(argv[i], "--xvfb") == 0 && i + 1 < argc) {
            extra.push_back(argv[++i]);
        } else if (std::strcmp(argv[i], "--optional") == 0) {
            optional = true;
        } else {
            std::fprintf(stderr,
                         "usage: kv_private_x [--screen WxHxD] [--xvfb ARG]... [--optional] "
                         "[-- COMMAND...]\n");
            return 2;
        }
    }

    // The stop signals interrupt a wait (they do not end this process, which
    // must stop its server first).
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = ignore;
        sigaction(s, &action, nullptr);
        sigaddset(&stops, s);
    }
    sigprocmask(SIG_BLOCK, &stops, nullptr);

    const bool command = i + 1 < argc;
    kv::host::PrivateXServer server;
    if (!server.start(screen, extra)) {
        std::fprintf(stderr, "kv_private_x: %s\n", server.failure().c_str());
        if (!(optional && command)) return kSkipped;
        return run(argv + i + 1, stops);
    }
    setenv("DISPLAY", server.display().c_str(), 1);
    if (command) return run(argv + i + 1, stops);

    std::printf("%s %ld\n", server.display().c_str(), static_cast<long>(server.pid()));
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stops, &signal);
    return 0;
}
