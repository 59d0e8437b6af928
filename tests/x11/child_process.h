// A program under test, run with pipes on its standard input and output:
// the test sends command lines and waits for the lines it prints.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kvtest {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a path) with the current environment; standard error
    // goes to `errorFile` when one is given.
    bool start(const std::vector<std::string>& argv, const std::string& errorFile = "");
    void send(const std::string& line);
    // Closes the child's standard input.
    void closeInput();
    // The first line not yet taken that starts with `prefix`, waiting up to
    // `milliseconds`; every line read on the way is kept in lines(). Empty
    // when none came (or the child ended).
    std::string waitFor(const std::string& prefix, int milliseconds = 5000);
    // Reads whatever the child printed within `milliseconds`.
    void drain(int milliseconds);
    const std::vector<std::string>& lines() const { return lines_; }
    // Lines that start with `prefix`, among those read after index `from`.
    int count(const std::string& prefix, size_t from = 0) const;
    // Waits for the end (killing the child after `milliseconds`); the exit
    // status, or -1 when it ended by a signal or had to be killed.
    int wait(int milliseconds = 5000);
    void signal(int sig);

  private:
    bool readSome(int milliseconds);

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
    size_t taken_ = 0;
};

}  // namespace kvtest
