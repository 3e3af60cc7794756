// A simulated chip with an in-process link to it, for the operation tests.
#ifndef TARNFLASH_TESTS_CRC_SIMLINK_H
#define TARNFLASH_TESTS_CRC_SIMLINK_H

#include "HexFile.h"
#include "LinkOnSim.h"
#include "SimProcess.h"
#include "TestFiles.h"
#include "ShareParameter.h"
#include "operations/Operation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace crctest {

using kvtest::Bytes;

class SimLink {
public:
    SimLink() { g_shareParameter.c_timeout = 5; }
    ~SimLink() { Close(); }
    SimLink(const SimLink&) = delete;
    SimLink& operator=(const SimLink&) = delete;

    std::string Path(const std::string& name) const { return m_dir / name; }

    // Starts kv32sim (flash dumped to Path("flash.dump") at its end) and
    // connects over USART; null on failure.
    CBootLoader* Start(const std::string& device, const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args = {"--link", "usart", "--map", kvtest::mapDir(), "--device",
                                         device, "--dump", Path("flash.dump"), "--state",
                                         Path("chip.state"), "--log", Path("sim.log")};
        args.insert(args.end(), extra.begin(), extra.end());
        if (!m_dir.ok() || !m_sim.start(args))
            return nullptr;
        return kvtest::ConnectLink(m_sim.ptyPath(), INTERFACE_USART, 700, m_com);
    }

    // Closes the link and stops the chip (its dump and state are written).
    void Close()
    {
        kvtest::CloseLink(m_com);
        m_sim.stop();
    }

    // Runs the link's current operation on this thread; its result.
    static unsigned int RunHere(CBootLoader* link)
    {
        COperation* op = link->GetOperation();
        if (!op)
            return CResult::UNKNOWN_ERROR;
        op->SetSubOperation(true);
        return op->Start();
    }

    // How many times the simulator's log holds the text.
    int LogCount(const std::string& text) const
    {
        const Bytes log = kvtest::ReadFile(Path("sim.log"));
        const std::string s(log.begin(), log.end());
        int n = 0;
        for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + 1))
            ++n;
        return n;
    }

private:
    kvtest::ScratchDir m_dir;
    kvtest::SimProcess m_sim;
    CCom* m_com = nullptr;
};

}  // namespace crctest

#endif
