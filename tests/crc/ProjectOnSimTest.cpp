// The project download against the simulated chip: the transfer unit seen in
// its progress, conflicts found before anything is erased, and two records
// written and verified with the option-byte and protection steps.

#include "SimLink.h"

#include "KVBL.h"
#include "device/Device.h"
#include "operations/Project.h"
#include "usd/UserSystemData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

using crctest::SimLink;
using kvtest::Bytes;

const uint32_t kFlash = 0x08000000;

HEXFILEPARTINFO Part(uint32_t address, const Bytes& data)
{
    HEXFILEPARTINFO part;
    part.PartStartAddress = address;
    part.PartSize = static_cast<uint32_t>(data.size());
    part.PartEndAddress = address + part.PartSize - 1;
    std::copy(data.begin(), data.end(), part.pData.begin());
    return part;
}

SFileInfo Record(const std::string& type, uint32_t start, const std::vector<HEXFILEPARTINFO>& parts)
{
    SFileInfo record;
    record.FilePath = "/project/" + type;
    record.LoadFileType = type;
    record.StartAddress = start;
    for (const HEXFILEPARTINFO& p : parts) {
        record.partInfo.append(p);
        record.FileSize += static_cast<int32_t>(p.PartSize);
    }
    return record;
}

// Progress seen by the callback: (type, bytes handled) of each ACTION.
std::mutex g_mutex;
std::vector<std::pair<OP_Type, uint32_t>> g_actions;

void OnInfo(InfoType type, void* info)
{
    if (type != INFO_TYPE_ACTION)
        return;
    const auto* action = static_cast<const CActionInfo*>(info);
    std::lock_guard<std::mutex> lock(g_mutex);
    // Repeats of the same report (the frame's own after each step) count once.
    for (auto it = g_actions.rbegin(); it != g_actions.rend(); ++it)
        if (it->first == action->m_emType) {
            if (it->second == action->m_uiFileStatus)
                return;
            break;
        }
    g_actions.push_back({action->m_emType, action->m_uiFileStatus});
}

std::vector<uint32_t> StatusesOf(OP_Type type)
{
    std::vector<uint32_t> out;
    for (const auto& a : g_actions)
        if (a.first == type && a.second != 0)
            out.push_back(a.second);
    return out;
}

Bytes Read(CBootLoader* link, uint32_t address, size_t n)
{
    Bytes out(n, 0);
    EXPECT_EQ(KVBL_UPLOAD(link->GetHandle(), address, out.data(), static_cast<DWORD>(n)), SUCCESS);
    return out;
}

TEST(ProjectOnSim, PartsTravelIn1024BytePiecesAndVerify)
{
    SimLink sim;
    CBootLoader* link = sim.Start("KV32S04");
    ASSERT_NE(link, nullptr);
    const Bytes data = kvtest::RandomBytes(2500, 3);
    DLPROJECTParam p;
    p.m_DownFileInfo.append(Record("HEX", kFlash + 0x1000, {Part(kFlash + 0x1000, data)}));
    p.m_bVerify = true;
    link->DownloadToDeviceProject(p);
    g_actions.clear();
    link->GetOperation()->SetOperationInfoDelegate(OnInfo);
    ASSERT_EQ(SimLink::RunHere(link), 0u);
    EXPECT_EQ(link->GetOperation()->GetName(), "Download------(HEX)");
    EXPECT_EQ(StatusesOf(OP_DOWNLOAD), (std::vector<uint32_t>{1024, 2048, 2500}));
    EXPECT_EQ(StatusesOf(OP_VERIFY), (std::vector<uint32_t>{1024, 2048, 2500}));
    EXPECT_EQ(Read(link, kFlash + 0x1000, data.size()), data);
}

struct ConflictCase {
    const char* name;
    int expected;
};

class ProjectConflict : public ::testing::TestWithParam<ConflictCase> {};

// sLib over sectors 10-20, or erase/program protection on sector 10: a
// project touching sector 2 and one of those sectors ends before any erase,
// and sector 2 keeps what it held.
TEST_P(ProjectConflict, FoundBeforeAnyErase)
{
    SimLink sim;
    const Bytes old = kvtest::RandomBytes(0x8000, 4);
    kvtest::WriteFile(sim.Path("flash.bin"), old);
    CBootLoader* link = sim.Start("KV32S04", {"--load-flash", sim.Path("flash.bin")});
    ASSERT_NE(link, nullptr);
    const bool slib = GetParam().expected == CResult::SLIB_DOWNLOADFILE_IN_SLIBSECTOR_ERROR;
    uint32_t conflictSector = 10;
    if (slib) {
        ASSERT_EQ(KVBL_EnableSlib(link->GetHandle(), 0x12345678, 10, 12, 20), SUCCESS);
        conflictSector = 15;
    } else {
        link->EraseProgramProtect(QList<int>{10});
        ASSERT_EQ(SimLink::RunHere(link), 0u);
    }
    DLPROJECTParam p;
    p.m_DownFileInfo.append(Record("HEX", kFlash, {Part(kFlash + 2 * 2048, Bytes(100, 0x11))}));
    p.m_DownFileInfo.append(
        Record("HEX", kFlash, {Part(kFlash + conflictSector * 2048, Bytes(100, 0x22))}));
    link->DownloadToDeviceProject(p);
    EXPECT_EQ(SimLink::RunHere(link), static_cast<unsigned int>(GetParam().expected));
    EXPECT_EQ(Read(link, kFlash + 2 * 2048, 2048),
              Bytes(old.begin() + 2 * 2048, old.begin() + 3 * 2048));
    sim.Close();
    EXPECT_EQ(sim.LogCount("command 44 ERASE_EXT"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Conflicts, ProjectConflict,
    ::testing::Values(ConflictCase{"Slib", CResult::SLIB_DOWNLOADFILE_IN_SLIBSECTOR_ERROR},
                      // Checked before the erase here, where the download
                      // step would only find it after erasing.
                      ConflictCase{"EraseProgramProtection", CResult::SYS_ERASEPROGRAM_PROTECTION}),
    [](const ::testing::TestParamInfo<ConflictCase>& info) { return std::string(info.param.name); });

// The system memory (from 0x1FFF0000) kept in the simulator's state file.
Bytes SystemMemory(const std::string& stateFile)
{
    const Bytes state = kvtest::ReadFile(stateFile);
    const std::string header = "KV32SIMSTATE 1\n";
    size_t at = header.size();
    while (at + 8 <= state.size()) {
        const std::string tag(state.begin() + static_cast<long>(at), state.begin() + static_cast<long>(at) + 4);
        uint32_t n = 0;
        for (int k = 3; k >= 0; --k)
            n = (n << 8) | state[at + 4 + static_cast<size_t>(k)];
        at += 8;
        if (at + n > state.size())
            break;
        if (tag == "SYSM")
            return Bytes(state.begin() + static_cast<long>(at), state.begin() + static_cast<long>(at + n));
        at += n;
    }
    return Bytes();
}

TEST(ProjectOnSim, TwoRecordsWithOptionBytesAndProtection)
{
    SimLink sim;
    // Flash full of old data: every sector written must be erased first,
    // the serial number's too.
    kvtest::WriteFile(sim.Path("flash.bin"), kvtest::RandomBytes(256 * 1024, 8));
    CBootLoader* link = sim.Start("KV32S04", {"--load-flash", sim.Path("flash.bin")});
    ASSERT_NE(link, nullptr);
    ASSERT_EQ(link->GetUserSystemData(), CResult::SUCCESS);
    unsigned char* raw = nullptr;
    int n = link->GetUserSystemDataModel()->GetElementData(raw);
    Bytes element(raw, raw + (n > 0 ? n : 0));
    delete[] raw;
    ASSERT_EQ(element.size(), 4096u);
    element[4] = 0x5A;  // DATA0 and its complement
    element[5] = 0xA5;

    const Bytes a1 = kvtest::RandomBytes(3000, 5), a2 = kvtest::RandomBytes(700, 6);
    const Bytes b = kvtest::RandomBytes(5000, 7);
    DLPROJECTParam p;
    p.m_DownFileInfo.append(Record("HEX", kFlash, {Part(kFlash, a1), Part(kFlash + 0x2010, a2)}));
    // A binary record: its part address is absolute like every other.
    p.m_DownFileInfo.append(Record("BIN", kFlash + 0x10000, {Part(kFlash + 0x10000, b)}));
    p.m_bVerify = true;
    p.m_UserSystemDataArray = element.data();
    p.m_UserSystemDataLen = static_cast<uint32_t>(element.size());
    p.m_bFAP = true;
    p.m_bFAPLevel = 1;
    p.m_bWriteSN = true;
    p.m_uiSNAddress = kFlash + 0x3000;
    p.m_uiSNNumber = 0x12345678;
    p.m_uiSNStep = 3;
    link->DownloadToDeviceProject(p);
    ASSERT_EQ(SimLink::RunHere(link), 0u);
    EXPECT_EQ(static_cast<CDownloadProject*>(link->GetOperation())->NextSerialNumber(), 0x1234567Bu);
    bool enabled = false;
    EXPECT_EQ(link->GetAccessProtectiosStatus(&enabled), CResult::SUCCESS);
    EXPECT_TRUE(enabled);
    sim.Close();

    const Bytes dump = kvtest::ReadFile(sim.Path("flash.dump"));
    ASSERT_EQ(dump.size(), 256u * 1024);
    auto at = [&](uint32_t address, size_t len) {
        return Bytes(dump.begin() + (address - kFlash), dump.begin() + (address - kFlash + len));
    };
    EXPECT_EQ(at(kFlash, a1.size()), a1);
    EXPECT_EQ(at(kFlash + 0x2010, a2.size()), a2);
    EXPECT_EQ(at(kFlash + 0x10000, b.size()), b);
    EXPECT_EQ(at(kFlash + 0x3000, 4), (Bytes{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(at(kFlash + 0x3004, 0x800 - 4), Bytes(0x800 - 4, 0xFF));  // erased, unwritten

    const Bytes system = SystemMemory(sim.Path("chip.state"));
    ASSERT_GE(system.size(), 0x10000u);
    const size_t options = 0x1FFFF800 - 0x1FFF0000;
    EXPECT_NE(system[options + 0], 0xA5);  // protected
    EXPECT_EQ(system[options + 4], 0x5A);
    EXPECT_EQ(system[options + 5], 0xA5);
}

}  // namespace
