// In-process link tests against the simulated chip. The protection byte the
// download writes with its user system data, seen through what the chip does
// afterwards. On a one-time model level 2 (0xCC)
// is permanent, so whether the chip can still be unprotected tells which
// value reached it.
#include "ShareParameter.h"
#include "LinkOnSim.h"
#include "SimProcess.h"
#include "cli/Progress.h"
#include "link/BootLoader.h"
#include "link/Com.h"
#include "link/ComManager.h"
#include "operations/Download.h"
#include "operations/Erase.h"
#include "operations/FeatureOperations.h"
#include "result/Result.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct FapCase {
    const char* what;
    unsigned char fileFap;  // the protection byte in the data handed to the download
    bool fap;               // protection asked for afterwards
    unsigned char level;
    bool protectedAfter;
    bool permanent;         // level 2 reached the chip
};

// Printed in test names: the description alone.
void PrintTo(const FapCase& c, std::ostream* os)
{
    *os << c.what;
}

// One simulated chip and an in-process connection to it.
class LinkOnChip : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnflash-dlfap-XXXXXX";
        const char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        m_dir = made;
        g_shareParameter.c_timeout = 5;  // the program's default, restored after an unprotect
    }
    void TearDown() override
    {
        kvtest::CloseLink(m_com);
        m_sim.stop();
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    CBootLoader* Connect(const char* device, const char* simLink, char type)
    {
        if (!m_sim.start({"--link", simLink, "--map", kvtest::mapDir(), "--device", device}))
            return nullptr;
        return kvtest::ConnectLink(m_sim.ptyPath(), type, 702, m_com);
    }

    std::string m_dir;
    kvtest::SimProcess m_sim;
    CCom* m_com = nullptr;
};

class DownloadFap : public LinkOnChip, public ::testing::WithParamInterface<FapCase> {};

TEST_P(DownloadFap, ProtectionByteOfTheUserSystemDataStep)
{
    const FapCase& c = GetParam();
    CBootLoader* link = Connect("KV32S15", "i2c", INTERFACE_I2C);
    ASSERT_NE(link, nullptr);

    const std::string image = m_dir + "/app.bin";
    {
        std::ofstream out(image, std::ios::binary);
        out << std::string(2048, '\x42');
    }
    // Option bytes as a file holds them: value/complement pairs, all unset
    // but the protection byte.
    unsigned char* usd = new unsigned char[4096];
    for (int k = 0; k < 4096; k += 2) {
        usd[k] = 0xFF;
        usd[k + 1] = 0x00;
    }
    usd[0] = c.fileFap;
    usd[1] = static_cast<unsigned char>(c.fileFap ^ 0xFF);

    DownloadParam param;
    param.m_strDownPathFile.append(image);
    param.m_uiStartAddress.append(0x08000000);
    param.m_UserSystemDataArray = usd;  // the operation owns it from here
    param.m_UserSystemDataLen = 4096;
    param.m_bFAP = c.fap;
    param.m_bFAPLevel = c.level;
    link->DownloadToDevice(param);
    ASSERT_TRUE(WaitOperation(m_com)) << c.what;

    bool enabled = false;
    ASSERT_EQ(link->GetAccessProtectiosStatus(&enabled), CResult::SUCCESS);
    EXPECT_EQ(enabled, c.protectedAfter) << c.what;
    if (!enabled)
        return;
    link->ReadoutUnProtect();
    EXPECT_EQ(WaitOperation(m_com), !c.permanent) << c.what;
}

// Disabling sLib restarts the chip; on the USART its bootloader then waits
// for the start byte again, so only a reconnected link can go on.
TEST_F(LinkOnChip, SlibDisableReconnectsAndAWrongPasswordFails)
{
    CBootLoader* link = Connect("KV32S04", "usart", INTERFACE_USART);
    ASSERT_NE(link, nullptr);
    EnableSlibParam slib;
    slib.m_uiPassword = 0x12345678;
    slib.m_usStartSector = 2;
    slib.m_usStartDataSector = 3;
    slib.m_usEndSector = 4;
    link->EnableSlib(slib);
    ASSERT_TRUE(WaitOperation(m_com));

    EraseParam erase;
    erase.m_iSectorIndex = {3};
    link->EraseFlash(erase);
    EXPECT_FALSE(WaitOperation(m_com)) << "an sLib sector refuses erases";

    link->DisableSlib(0x11111111);
    EXPECT_FALSE(WaitOperation(m_com)) << "a wrong password is no success";

    link->DisableSlibCheck(0x12345678);
    ASSERT_TRUE(WaitOperation(m_com));
    link->EraseFlash(erase);
    EXPECT_TRUE(WaitOperation(m_com)) << "the link goes on after the restart, and the area is free";
}

std::string CaseName(const ::testing::TestParamInfo<FapCase>& info)
{
    static const char* const kNames[] = {"NoProtection", "Level1", "Level2", "FileLevel2Kept"};
    return kNames[info.index];
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DownloadFap,
    ::testing::Values(FapCase{"no protection asked: the file's value stays", 0xA5, false, 1, false, false},
                      FapCase{"level 1 replaces the file's value", 0xA5, true, 1, true, false},
                      FapCase{"level 2 replaces the file's value", 0xA5, true, 2, true, true},
                      FapCase{"level 2 in the file stays with level 1", 0xCC, true, 1, true, true}),
    CaseName);

} // namespace
