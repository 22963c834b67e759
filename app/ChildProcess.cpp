#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// In the child between fork and exec only async-signal-safe calls are made;
// 127 is the shell's code for a program that could not be run.
[[noreturn]] void ExecChild(pid_t parent, const char* program, char* const argv[], const char* stdoutFile,
                            const char* stderrFile)
{
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent)
        ::_exit(127);
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    const int out = ::open(stdoutFile, flags, 0644);
    const int err = ::open(stderrFile, flags, 0644);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out < 0 || err < 0 || in < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0 ||
        ::dup2(err, STDERR_FILENO) < 0)
        ::_exit(127);
    ::execv(program, argv);
    ::_exit(127);
}

} // namespace

std::string ChildExit::Describe() const
{
    if (!started)
        return "not started";
    if (signal != 0) {
        const char* name = ::sigdescr_np(signal); // unlike strsignal, safe on any thread
        return std::string("crashed: ") + (name ? name : "unknown signal") + " (signal " +
               std::to_string(signal) + ")";
    }
    return "exit code " + std::to_string(code);
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        Wait();
    }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& stdoutFile, const std::string& stderrFile, std::string& error)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("cannot start a process: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0)
        ExecChild(parent, program.c_str(), argv.data(), stdoutFile.c_str(), stderrFile.c_str());
    m_pid = pid;
    return true;
}

ChildExit ChildProcess::Wait()
{
    ChildExit exit;
    if (m_pid <= 0)
        return exit;
    int status = 0;
    pid_t waited;
    do
        waited = ::waitpid(m_pid, &status, 0);
    while (waited < 0 && errno == EINTR);
    m_pid = -1;
    exit.started = waited > 0;
    if (exit.started && WIFEXITED(status))
        exit.code = WEXITSTATUS(status);
    else if (exit.started && WIFSIGNALED(status))
        exit.signal = WTERMSIG(status);
    return exit;
}
