// The simulated chip and the program run against it, for the end-to-end
// tests (they compile tests/console/RunProgram.cpp and define
// TARNFLASH_BINARY).
#ifndef TARNFLASH_TESTS_SUPPORT_PROGRAMONSIM_H
#define TARNFLASH_TESTS_SUPPORT_PROGRAMONSIM_H

#include "RunProgram.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <string>
#include <vector>

namespace kvtest {

// Starts kv32sim behind `link` with the shipped catalogue and the extra
// options.
inline bool StartChip(SimProcess& sim, const std::string& link, const std::vector<std::string>& extra)
{
    std::vector<std::string> args = {"--link", link, "--map", mapDir()};
    args.insert(args.end(), extra.begin(), extra.end());
    return sim.start(args);
}

// tarnflash CONNECT --pn PORT COMMANDS... in workDir.
inline ProgramRun RunOnChip(const SimProcess& sim, const std::string& connect,
                            const std::vector<std::string>& commands, const std::string& workDir,
                            int timeoutSeconds = 120, const SignalWhen& signalWhen = SignalWhen())
{
    std::vector<std::string> args = {connect, "--pn", sim.portName()};
    args.insert(args.end(), commands.begin(), commands.end());
    return RunProgram(TARNFLASH_BINARY, args, workDir, timeoutSeconds, signalWhen);
}

// The text of a file (a simulator's log).
inline std::string TextOf(const std::string& path)
{
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace kvtest

#endif
