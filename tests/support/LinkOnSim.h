// An in-process link to a simulated chip, for the tests that drive the link
// and its operations directly (they link tarnflash_core).
#ifndef TARNFLASH_TESTS_SUPPORT_LINKONSIM_H
#define TARNFLASH_TESTS_SUPPORT_LINKONSIM_H

#include "link/BootLoader.h"
#include "link/Com.h"
#include "link/ComManager.h"
#include "result/Result.h"

#include <gtest/gtest.h>

#include <string>

namespace kvtest {

// Opens port `port` of interface `type` on the simulator's terminal, then
// connects and identifies the chip with a 5 s line time-out. The connection
// lands in com (the caller closes it with CloseLink); null, with a test
// failure naming the result, when a step fails.
inline CBootLoader* ConnectLink(const std::string& pty, char type, int port, CCom*& com)
{
    CComManager manager;
    manager.SetInterfaceType(type);
    com = new CCom(port, type, pty.c_str());
    int r = com->Open();
    CBootLoader* link = com->GetBootLoader();
    if (r == CResult::SUCCESS && link) {
        com->SetComTimeOut(5000);
        r = link->Connect();
        if (r == CResult::SUCCESS)
            r = link->InitDevice();
    }
    EXPECT_EQ(r, CResult::SUCCESS) << CResult::GetInfoStringName(r);
    return r == CResult::SUCCESS ? link : nullptr;
}

inline void CloseLink(CCom*& com)
{
    if (com)
        com->Close();
    delete com;
    com = nullptr;
}

}  // namespace kvtest

#endif
