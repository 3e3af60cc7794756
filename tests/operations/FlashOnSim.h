// The simulated chip and the program talking to it, for the end-to-end
// tests of the flash commands and of whole command lines.
#ifndef TARNFLASH_TESTS_OPERATIONS_FLASHONSIM_H
#define TARNFLASH_TESTS_OPERATIONS_FLASHONSIM_H

#include "ProgramOnSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using kvtest::Bytes;
using kvtest::Contains;
using kvtest::Count;
using kvtest::RandomBytes;
using kvtest::ReadFile;
using kvtest::ScratchDir;
using kvtest::Shell;
using kvtest::WriteFile;

constexpr uint32_t kFlashBase = 0x08000000;

struct LinkFlavour {
    const char* link;     // kv32sim --link
    const char* connect;  // the program's connect command
};

// One simulated chip and the program talking to it.
class FlashOnSim : public ::testing::TestWithParam<LinkFlavour> {
protected:
    // Starts the simulated chip; its memory lives on in the state file from
    // one start to the next.
    bool StartSim(const std::vector<std::string>& extra = {})
    {
        if (!m_dir.ok())
            return false;
        m_extra = extra;
        m_used = false;
        std::vector<std::string> args = {"--state", m_dir / "chip.state", "--dump", m_dir / "flash.dump"};
        if (!m_device.empty()) {
            args.push_back("--device");
            args.push_back(m_device);
        }
        args.insert(args.end(), extra.begin(), extra.end());
        return kvtest::StartChip(m_sim, GetParam().link, args);
    }

    // One run of the program. Each run gets a freshly started simulator (the
    // chip keeps its memory), as a chip would after a power cycle.
    // shellFirst: shell commands run in the test folder before the program,
    // in the process that then becomes the program ($$ is its process id).
    ProgramRun Run(const std::vector<std::string>& commands, int timeoutSeconds = 120,
                   const SignalWhen& signalWhen = SignalWhen(), const std::string& shellFirst = std::string())
    {
        if (m_used) {
            m_sim.stop();
            if (!StartSim(m_extra))
                return ProgramRun();
        }
        m_used = true;
        if (shellFirst.empty())
            return kvtest::RunOnChip(m_sim, GetParam().connect, commands, m_dir.path(), timeoutSeconds,
                                     signalWhen);
        std::vector<std::string> args = {GetParam().connect, "--pn", m_sim.portName()};
        args.insert(args.end(), commands.begin(), commands.end());
        args.insert(args.begin(), {"-c", shellFirst + "; exec \"$0\" \"$@\"", TARNFLASH_BINARY});
        return RunProgram("/bin/sh", args, m_dir.path(), timeoutSeconds, signalWhen);
    }

    // The chip's main flash as the simulator dumps it when it stops.
    Bytes Flash()
    {
        m_sim.stop();
        return ReadFile(m_dir / "flash.dump");
    }

    static Bytes Erased(size_t n) { return Bytes(n, 0xFF); }

    ScratchDir m_dir;
    kvtest::SimProcess m_sim;
    std::string m_device;
    std::vector<std::string> m_extra;
    bool m_used = false;
};

// Flash contents expected after writing `image` at `offset` on a blank chip.
inline Bytes Expect(size_t flashSize, size_t offset, const Bytes& image)
{
    Bytes out(flashSize, 0xFF);
    std::copy(image.begin(), image.end(), out.begin() + static_cast<long>(offset));
    return out;
}

inline std::string LinkName(const ::testing::TestParamInfo<LinkFlavour>& info)
{
    return info.param.link;
}

#endif
