// The link's own actions on the simulated chip: the option bytes through
// files and element images with the reconnect after each write, the
// erase/program protection check, resets and the permanent unprotect.

#include "LinkOnSim.h"
#include "SimProcess.h"
#include "TestFiles.h"
#include "cli/Progress.h"
#include "device/Device.h"
#include "link/BootLoader.h"
#include "link/Com.h"
#include "link/ComManager.h"
#include "operations/Download.h"
#include "operations/Erase.h"
#include "operations/Upload.h"
#include "result/Result.h"
#include "usd/UserSystemData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using kvtest::Bytes;
using kvtest::ReadFile;
using kvtest::WriteFile;

// An element image of value/complement pairs.
void SetValue(Bytes& image, size_t index, unsigned char value)
{
    image[2 * index] = value;
    image[2 * index + 1] = static_cast<unsigned char>(value ^ 0xFF);
}

class LinkOnSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_scratch.ok());
        m_dir = m_scratch.path();
    }
    void TearDown() override
    {
        kvtest::CloseLink(m_com);
        m_sim.stop();
    }

    // Starts the chip and connects to it over I2C, identified.
    CBootLoader* Connect(const std::vector<std::string>& simArgs)
    {
        std::vector<std::string> args = {"--link", "i2c", "--state", m_dir + "/chip.state",
                                         "--dump", m_dir + "/flash.dump"};
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        if (!m_sim.start(args))
            return nullptr;
        return kvtest::ConnectLink(m_sim.ptyPath(), INTERFACE_I2C, 700, m_com);
    }

    // The element image of the chip's option bytes, read afresh.
    Bytes ChipElement(CBootLoader* link)
    {
        if (link->GetUserSystemData() != CResult::SUCCESS || !link->GetUserSystemDataModel())
            return Bytes();
        unsigned char* image = nullptr;
        int n = link->GetUserSystemDataModel()->GetElementData(image);
        Bytes out(image, image + (n > 0 ? n : 0));
        delete[] image;
        return out;
    }

    kvtest::ScratchDir m_scratch;
    std::string m_dir;
    kvtest::SimProcess m_sim;
    CCom* m_com = nullptr;
};

TEST_F(LinkOnSim, OptionBytesThroughFilesWithLengthChecks)
{
    CBootLoader* link = Connect({});
    ASSERT_NE(link, nullptr);
    const std::string saved = m_dir + "/usd.bin";
    ASSERT_EQ(link->SaveUserSystemDatatoFile(saved), CResult::SUCCESS);
    Bytes file = ReadFile(saved);
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(file, ChipElement(link));
    EXPECT_EQ(link->LoadUserSystemDataFromFile(saved), CResult::SUCCESS);

    struct Row {
        size_t length;
        int expected;
    };
    for (const Row& row : {Row{47, CResult::FILES_BADPARAMETER}, Row{4097, CResult::FILES_BADPARAMETER},
                           Row{48, CResult::SUCCESS}}) {
        const std::string path = m_dir + "/len" + std::to_string(row.length) + ".bin";
        Bytes element(file.begin(), file.begin() + static_cast<long>(std::min(row.length, file.size())));
        element.resize(row.length, 0xFF);
        WriteFile(path, element);
        EXPECT_EQ(link->LoadUserSystemDataFromFile(path), row.expected) << row.length;
    }
    // Fewer bytes than the chip's option bytes would leave the cache as it
    // was and write that: refused, nothing written.
    EXPECT_EQ(link->LoadUserSystemDataToDevice(nullptr, 0), CResult::FILES_EMPTY);
    EXPECT_EQ(link->LoadUserSystemDataToDevice(file.data(), 40), CResult::FILES_BADPARAMETER);
    EXPECT_EQ(link->LoadUserSystemDataToDeviceExceptFAP(file.data(), 47), CResult::FILES_BADPARAMETER);
}

TEST_F(LinkOnSim, WritesReachTheChipAcrossTheReconnect)
{
    CBootLoader* link = Connect({});
    ASSERT_NE(link, nullptr);
    Bytes image = ChipElement(link);
    ASSERT_EQ(image.size(), 4096u);
    SetValue(image, 2, 0x5A);   // DATA0
    SetValue(image, 16, 0x12);  // BANK3KEY0
    ASSERT_EQ(link->LoadUserSystemDataToDevice(image.data(), 4096), CResult::SUCCESS);
    Bytes back = ChipElement(link);  // the link reconnected after the write
    ASSERT_EQ(back.size(), 4096u);
    EXPECT_EQ(back[4], 0x5A);
    EXPECT_EQ(back[32], 0x12);

    // Leaving out the protection: FAP 0xA5 and option bytes 1-15 0xFF
    // whatever the image holds; bytes from 16 on come from it.
    SetValue(image, 0, 0xCC);
    SetValue(image, 2, 0x33);
    SetValue(image, 16, 0x34);
    ASSERT_EQ(link->LoadUserSystemDataToDeviceExceptFAP(image.data(), 4096), CResult::SUCCESS);
    back = ChipElement(link);
    ASSERT_EQ(back.size(), 4096u);
    EXPECT_EQ(back[0], 0xA5);
    EXPECT_EQ(back[4], 0xFF);
    EXPECT_EQ(back[32], 0x34);
    bool enabled = true;
    EXPECT_EQ(link->GetAccessProtectiosStatus(&enabled), CResult::SUCCESS);
    EXPECT_FALSE(enabled);
}

TEST_F(LinkOnSim, ProtectedSectorsStopTheDownloadBeforeAnyErase)
{
    CBootLoader* link = Connect({});
    ASSERT_NE(link, nullptr);
    EXPECT_FALSE(link->HasBeenEraseProgramProtect(QList<int>{0, 1, 2}));
    Bytes image = ChipElement(link);
    ASSERT_EQ(image.size(), 4096u);
    SetValue(image, 5, 0xFD);  // EPP1 bit 1 cleared
    ASSERT_EQ(link->LoadUserSystemDataToDevice(image.data(), 4096), CResult::SUCCESS);
    QList<int> protectedSectors = link->GetUserSystemDataModel()->GetEPPMapSectorIndex(0);
    ASSERT_FALSE(protectedSectors.isEmpty());
    const int first = protectedSectors.first();
    EXPECT_TRUE(link->HasBeenEraseProgramProtect(QList<int>{first}));
    EXPECT_TRUE(link->HasBeenEraseProgramProtect(QList<int>{0, first}));
    EXPECT_FALSE(link->HasBeenEraseProgramProtect(QList<int>{first == 0 ? 100 : 0}));

    const std::string path = m_dir + "/app.bin";
    WriteFile(path, Bytes(2048, 0x42));
    DownloadParam request;
    request.m_strDownPathFile.append(path);
    request.m_uiStartAddress.append(0x08000000u + static_cast<uint32_t>(first) * 2048u);
    link->DownloadToDevice(request);
    testing::internal::CaptureStdout();
    bool ok = RunOperation(link->GetOperation(), m_com);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(ok);
    EXPECT_NE(out.find(CResult::GetInfoStringName(CResult::SYS_ERASEPROGRAM_PROTECTION)),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Erase"), std::string::npos) << out;
}

TEST_F(LinkOnSim, EraseRefusesSectorNumbersThatDoNotFitTwoBytes)
{
    CBootLoader* link = Connect({});
    ASSERT_NE(link, nullptr);
    const std::string path = m_dir + "/app.bin";
    WriteFile(path, Bytes(3 * 2048, 0x42));
    DownloadParam request;
    request.m_strDownPathFile.append(path);
    request.m_uiStartAddress.append(0x08000000u);
    link->DownloadToDevice(request);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(RunOperation(link->GetOperation(), m_com));

    // 0x10002 would go out as sector 2.
    EraseParam erase;
    erase.m_iSectorIndex = QList<int>{1, 0x10002};
    link->EraseFlash(erase);
    EXPECT_FALSE(RunOperation(link->GetOperation(), m_com));
    testing::internal::GetCapturedStdout();
    m_com->Close();
    delete m_com;
    m_com = nullptr;
    m_sim.stop();
    const Bytes flash = ReadFile(m_dir + "/flash.dump");
    ASSERT_GE(flash.size(), 3u * 2048);
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 3 * 2048), Bytes(3 * 2048, 0x42))
        << "nothing may be erased";
}

TEST_F(LinkOnSim, DownloadFollowUpStepsSerialNumberOptionBytesProtection)
{
    CBootLoader* link = Connect({});
    ASSERT_NE(link, nullptr);
    Bytes usd = ChipElement(link);
    ASSERT_EQ(usd.size(), 4096u);
    SetValue(usd, 2, 0x77);  // DATA0
    const std::string path = m_dir + "/app.bin";
    WriteFile(path, Bytes(1024, 0x42));

    DownloadParam request;
    request.m_strDownPathFile.append(path);
    request.m_uiStartAddress.append(0x08000000u);
    request.m_bVerify = true;
    request.m_bWriteSN = true;
    request.m_uiSNAddress = 0x0800F000;
    request.m_uiSNNumber = 0x12345678;
    request.m_uiSNStep = 3;
    request.m_UserSystemDataArray = new unsigned char[usd.size()];  // owned by the operation
    std::copy(usd.begin(), usd.end(), request.m_UserSystemDataArray);
    request.m_UserSystemDataLen = static_cast<uint32_t>(usd.size());
    link->DownloadToDevice(request);
    testing::internal::CaptureStdout();
    bool ok = RunOperation(link->GetOperation(), m_com);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok) << out;
    EXPECT_EQ(static_cast<CDownload*>(link->GetOperation())->NextSerialNumber(), 0x12345678u + 3);
    EXPECT_EQ(ChipElement(link)[4], 0x77);

    // With protection asked for, level 1 goes through the option bytes' FAP
    // and the protection operation: the chip ends read-protected.
    request.m_bWriteSN = false;
    request.m_bFAP = true;
    request.m_bFAPLevel = 1;
    request.m_UserSystemDataArray = new unsigned char[usd.size()];
    std::copy(usd.begin(), usd.end(), request.m_UserSystemDataArray);
    link->DownloadToDevice(request);
    testing::internal::CaptureStdout();
    ok = RunOperation(link->GetOperation(), m_com);
    out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok) << out;
    bool enabled = false;
    EXPECT_EQ(link->GetAccessProtectiosStatus(&enabled), CResult::SUCCESS);
    EXPECT_TRUE(enabled);

    m_com->Close();
    delete m_com;
    m_com = nullptr;
    m_sim.stop();
    const Bytes flash = ReadFile(m_dir + "/flash.dump");
    ASSERT_GE(flash.size(), 0xF004u);
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 1024), Bytes(1024, 0x42));
    // The serial number's word, least significant byte first.
    EXPECT_EQ(Bytes(flash.begin() + 0xF000, flash.begin() + 0xF004), (Bytes{0x78, 0x56, 0x34, 0x12}));
}

// Reports of an operation run by hand, and a cancel on the first progress.
std::vector<std::string> g_reports;
COperation* g_cancelOnProgress = nullptr;

void RecordReport(InfoType type, void* info)
{
    if (type == INFO_TYPE_INIT) {
        const CInitInfo* init = static_cast<CInitInfo*>(info);
        g_reports.push_back("INIT " + init->m_strName + (init->m_bSubOperation ? " sub" : ""));
    } else if (type == INFO_TYPE_ACTION) {
        if (g_cancelOnProgress && static_cast<CActionInfo*>(info)->m_iPercent > 0)
            g_cancelOnProgress->Cancel();
    } else {
        g_reports.push_back(std::to_string(type));
    }
}

std::vector<std::string> RunByHand(COperation* op, bool cancelOnProgress)
{
    g_reports.clear();
    g_cancelOnProgress = cancelOnProgress ? op : nullptr;
    op->SetOperationInfoDelegate(RecordReport);
    op->Start();
    op->WaitForEnd();
    g_cancelOnProgress = nullptr;
    return g_reports;
}

TEST_F(LinkOnSim, TwoFilesEachWrittenThenVerified)
{
    CBootLoader* link = Connect({});
    ASSERT_NE(link, nullptr);
    WriteFile(m_dir + "/a.bin", Bytes(3000, 0x11));
    WriteFile(m_dir + "/b.bin", Bytes(100, 0x22));
    DownloadParam request;
    request.m_strDownPathFile = {m_dir + "/a.bin", m_dir + "/b.bin"};
    request.m_uiStartAddress = {0x08000000u, 0x08004000u};
    request.m_bVerify = true;
    link->DownloadToDevice(request);
    // The erase runs while the download initialises, before its own INIT;
    // the second file gets an INIT of its own; each file is verified at once.
    const std::vector<std::string> expected = {
        "INIT Erase sub", "INIT Download------(a.bin)", "INIT Verify------(a.bin) sub",
        "INIT Download------(b.bin)", "INIT Verify------(b.bin) sub", "4"};
    EXPECT_EQ(RunByHand(link->GetOperation(), false), expected);

    m_com->Close();
    delete m_com;
    m_com = nullptr;
    m_sim.stop();
    const Bytes flash = ReadFile(m_dir + "/flash.dump");
    ASSERT_GE(flash.size(), 0x4100u);
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 3000), Bytes(3000, 0x11));
    EXPECT_EQ(Bytes(flash.begin() + 0x4000, flash.begin() + 0x4064), Bytes(100, 0x22));
}

TEST_F(LinkOnSim, CancelledUploadSavesNothing)
{
    CBootLoader* link = Connect({});
    ASSERT_NE(link, nullptr);
    UploadParam request;
    request.m_strUploadPathFile = m_dir + "/up.bin";
    request.m_aSectorIndexs = {0, 1, 2, 3};
    link->UploadFromDevice(request);
    const std::vector<std::string> reports = RunByHand(link->GetOperation(), true);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), std::to_string(INFO_TYPE_CANCEL));
    EXPECT_NE(access((m_dir + "/up.bin").c_str(), F_OK), 0) << "no file after a cancel";
}

TEST_F(LinkOnSim, ResetReconnectsAndUnprotectErasesTheChip)
{
    CBootLoader* link = Connect({"--protect", "1"});
    ASSERT_NE(link, nullptr);
    bool enabled = false;
    ASSERT_EQ(link->GetAccessProtectiosStatus(&enabled), CResult::SUCCESS);
    ASSERT_TRUE(enabled);
    EXPECT_EQ(link->JumpToUserProgram(0x08000000), CResult::SYS_ACCESS_PROTECTION);
    EXPECT_FALSE(link->HasJumpToUserProgram());

    EXPECT_EQ(link->ResetMcu(), CResult::SUCCESS);
    EXPECT_EQ(link->ReadoutUnProtectNoThread(), CResult::SUCCESS);
    EXPECT_EQ(link->GetUserSystemDataModel(), nullptr) << "stale option bytes are dropped";
    ASSERT_EQ(link->GetAccessProtectiosStatus(&enabled), CResult::SUCCESS);
    EXPECT_FALSE(enabled);
    EXPECT_EQ(link->JumpToUserProgram(0x08000000), CResult::SUCCESS);
    EXPECT_TRUE(link->HasJumpToUserProgram());
}

}  // namespace
