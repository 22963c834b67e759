// A program run as a child process with its output in files: started, waited
// for, and never left running behind its owner.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// How a child ended.
struct ChildExit {
    bool started = false; // false: it could not be started (see ChildProcess::Start's error)
    int code = -1;        // the exit code; -1 when it did not exit by itself
    int signal = 0;       // the signal that ended it; 0 when none

    bool Succeeded() const { return started && signal == 0 && code == 0; }
    // "exit code 1", "crashed: Segmentation fault (signal 11)"
    std::string Describe() const;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Ends a child still running (SIGTERM) and waits for it.
    ~ChildProcess();

    // Runs program with args (args[0] is the program's name), its stdout and
    // stderr written to the two files (made or emptied). The child ends when
    // the thread that started it ends, so it never outlives its owner.
    // False, with the reason, when no process can be started; a program that
    // cannot be run ends its process with exit code 127.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& stdoutFile, const std::string& stderrFile, std::string& error);
    // Blocks the calling thread until the child ends.
    ChildExit Wait();

private:
    pid_t m_pid = -1;
};
