#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace kvtest {

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0) close(input_);
    if (output_ >= 0) close(output_);
}

bool ChildProcess::start(const std::vector<std::string>& args, const std::string& errorFile) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (!errorFile.empty())
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (rc != 0) pid_ = -1;
    return rc == 0;
}

void ChildProcess::send(const std::string& line) {
    const std::string text = line + "\n";
    if (input_ >= 0) [[maybe_unused]]
        auto n = write(input_, text.data(), text.size());
}

void ChildProcess::closeInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
}

bool ChildProcess::readSome(int milliseconds) {
    if (output_ < 0) return false;
    pollfd p{output_, POLLIN, 0};
    if (poll(&p, 1, milliseconds) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(output_, buffer, sizeof buffer);
    if (n <= 0) {
        close(output_);
        output_ = -1;
        return false;
    }
    partial_.append(buffer, static_cast<size_t>(n));
    size_t eol;
    while ((eol = partial_.find('\n')) != std::string::npos) {
        lines_.push_back(partial_.substr(0, eol));
        partial_.erase(0, eol + 1);
    }
    return true;
}

std::string ChildProcess::waitFor(const std::string& prefix, int milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        for (; taken_ < lines_.size(); ++taken_) {
            if (lines_[taken_].rfind(prefix, 0) == 0) return lines_[taken_++];
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || output_ < 0) return "";
        readSome(static_cast<int>(left));
    }
}

void ChildProcess::drain(int milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (output_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        readSome(static_cast<int>(left));
    }
}

int ChildProcess::count(const std::string& prefix, size_t from) const {
    int n = 0;
    for (size_t i = from; i < lines_.size(); ++i)
        if (lines_[i].rfind(prefix, 0) == 0) ++n;
    return n;
}

int ChildProcess::wait(int milliseconds) {
    if (pid_ <= 0) return -1;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    int status = 0;
    for (;;) {
        drain(0);
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    drain(50);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
}

}  // namespace kvtest
