// Runs the built program as a child process and collects what it prints.
#ifndef TARNFLASH_TESTS_RUNPROGRAM_H
#define TARNFLASH_TESTS_RUNPROGRAM_H

#include <string>
#include <vector>

struct ProgramRun {
    std::string out;   // standard output
    std::string err;   // standard error
    int exitCode = -1; // -1 when it did not exit normally
};

// Runs `program args...` in the folder `workDir` (empty: the current one),
// with standard input closed; kills it after timeoutSeconds.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workDir = std::string(), int timeoutSeconds = 60);

#endif
