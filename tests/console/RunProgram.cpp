#include "RunProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workDir, int timeoutSeconds, const SignalWhen& signalWhen)
{
    ProgramRun run;
    int outFds[2];
    int errFds[2];
    if (pipe(outFds) != 0)
        return run;
    if (pipe(errFds) != 0) {
        close(outFds[0]);
        close(outFds[1]);
        return run;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {outFds[0], outFds[1], errFds[0], errFds[1]})
            close(fd);
        return run;
    }
    if (pid == 0) {
        dup2(outFds[1], STDOUT_FILENO);
        dup2(errFds[1], STDERR_FILENO);
        for (int fd : {outFds[0], outFds[1], errFds[0], errFds[1]})
            close(fd);
        const int devNull = open("/dev/null", O_RDWR);
        if (devNull >= 0)
            dup2(devNull, STDIN_FILENO);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outFds[1]);
    close(errFds[1]);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    Clock::time_point signalled{};
    pollfd p[2] = {{outFds[0], POLLIN, 0}, {errFds[0], POLLIN, 0}};
    std::string* into[2] = {&run.out, &run.err};
    char buffer[4096];
    while (p[0].fd >= 0 || p[1].fd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(p, 2, static_cast<int>(left)) <= 0)
            continue;
        for (int k = 0; k < 2; ++k) {
            if (p[k].fd < 0 || !(p[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = read(p[k].fd, buffer, sizeof buffer);
            if (n <= 0)
                p[k].fd = -1;  // poll skips it from now on
            else
                into[k]->append(buffer, static_cast<size_t>(n));
        }
        if (signalWhen.signal != 0 && signalled == Clock::time_point{} &&
            run.out.find(signalWhen.printed) != std::string::npos) {
            kill(pid, signalWhen.signal);
            signalled = Clock::now();
        }
    }
    close(outFds[0]);
    close(errFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (signalled != Clock::time_point{})
        run.secondsAfterSignal = std::chrono::duration<double>(Clock::now() - signalled).count();
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}
