#include "host/validate/isolation.h"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace kv::validate {

namespace {

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return;
        }
        done += static_cast<size_t>(n);
    }
}

std::string describeStatus(int status) {
    char buffer[128];
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        std::snprintf(buffer, sizeof buffer, "killed by signal %d (%s)", sig, strsignal(sig));
    } else if (WIFEXITED(status)) {
        std::snprintf(buffer, sizeof buffer, "exit status %d", WEXITSTATUS(status));
    } else {
        std::snprintf(buffer, sizeof buffer, "ended with status 0x%x", status);
    }
    return buffer;
}

constexpr char kPassMark = '\x01';

// Whether this process is itself a child of runInChild. The outermost
// child leads a process group of its own, and the children it makes stay in
// it, so that stopping the outermost one stops them all: a grandchild left
// hanging in a plug-in would otherwise spin on after the run.
bool gInChild = false;

}  // namespace

std::string passedWith(const std::string& figure) {
    return kPassMark + figure;
}

ChildOutcome runInChild(const std::function<std::string()>& body, int timeoutSeconds) {
    int fds[2];
    if (::pipe(fds) != 0) return {false, std::string("pipe: ") + std::strerror(errno)};
    std::fflush(nullptr);  // nothing buffered may be printed twice
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return {false, std::string("fork: ") + std::strerror(errno)};
    }
    const bool leader = !gInChild;
    if (pid == 0) {
        gInChild = true;
        if (leader) ::setpgid(0, 0);
        ::close(fds[0]);
        // A memory fault should end the child as a fault, whatever handler a
        // sanitizer installed, so that the parent can name the signal.
        ::signal(SIGSEGV, SIG_DFL);
        ::signal(SIGBUS, SIG_DFL);
        std::string message;
        bool ok = false;
        try {
            message = body();
            ok = message.empty() || message[0] == kPassMark;
        } catch (const std::exception& e) {
            message = std::string("exception: ") + e.what();
        } catch (...) {
            message = "unknown exception";
        }
        writeAll(fds[1], message);
        ::close(fds[1]);
        ::_exit(ok ? 0 : 3);
    }
    if (leader) ::setpgid(pid, pid);  // also here: whichever runs first
    ::close(fds[1]);
    std::string message;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        char chunk[512];
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the child closed its end (or ended)
        message.append(chunk, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    if (timedOut) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // Whatever the child left running (a grandchild stuck in the plug-in
    // when the child crashed or was stopped) goes with it.
    if (leader) ::kill(-pid, SIGKILL);
    if (timedOut) return {false, "timed out after " + std::to_string(timeoutSeconds) + " s"};
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return {true, !message.empty() && message[0] == kPassMark ? message.substr(1) : message};
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3) return {false, message};
    return {false, describeStatus(status) + (message.empty() ? "" : ": " + message)};
}

GuardedBytes::GuardedBytes(size_t size) : size_(size) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t body = (size + page - 1) / page * page;
    mapped_ = body + page;
    void* p = ::mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    base_ = p;
    auto* bytes = static_cast<uint8_t*>(p);
    if (::mprotect(bytes + body, page, PROT_NONE) != 0) return;
    data_ = bytes + body - size;
}

GuardedBytes::~GuardedBytes() {
    if (base_ != nullptr) ::munmap(base_, mapped_);
}

CanaryBuffer::CanaryBuffer(size_t usable) : usable_(usable), bytes_(usable + kTail, kPattern) {}

size_t CanaryBuffer::tailDamage() const {
    size_t damaged = 0;
    for (size_t i = usable_; i < bytes_.size(); ++i) {
        if (bytes_[i] != kPattern) ++damaged;
    }
    return damaged;
}

size_t CanaryBuffer::firstZero() const {
    for (size_t i = 0; i < usable_; ++i) {
        if (bytes_[i] == 0) return i;
    }
    return usable_;
}

bool CanaryBuffer::untouched() const {
    for (size_t i = 0; i < usable_; ++i) {
        if (bytes_[i] != kPattern) return false;
    }
    return true;
}

}  // namespace kv::validate
