// Runs the built program as a child process and collects what it prints.
#ifndef TARNFLASH_TESTS_RUNPROGRAM_H
#define TARNFLASH_TESTS_RUNPROGRAM_H

#include <string>
#include <vector>

struct ProgramRun {
    std::string out;   // standard output
    std::string err;   // standard error
    int exitCode = -1; // -1 when it did not exit normally
    // Seconds from the signal (see SignalWhen) to the program's end; -1
    // when none was sent.
    double secondsAfterSignal = -1;
};

// A signal sent to the program once its standard output holds a text.
struct SignalWhen {
    std::string printed;
    int signal = 0;  // 0: none
};

// Runs `program args...` in the folder `workDir` (empty: the current one),
// with standard input closed; kills it after timeoutSeconds.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workDir = std::string(), int timeoutSeconds = 60,
                      const SignalWhen& signalWhen = SignalWhen());

#endif
