// The chip's firmware CRC and the firmware check against the simulated chip:
// the host's checksum equals the chip's for random images on several
// families, and the check tells a chip that holds the image from one that
// does not, also when the checksums differ for bytes outside the file.

#include "SimLink.h"

#include "device/Device.h"
#include "operations/Crc.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using crctest::SimLink;
using crctest::WriteHex;
using kvtest::Bytes;

const uint32_t kFlash = 0x08000000;

struct Family {
    const char* device;
    unsigned int sectorSize;
};

class ChipCrc : public ::testing::TestWithParam<Family> {};

TEST_P(ChipCrc, HostChecksumEqualsTheChipsForRandomRuns)
{
    SimLink sim;
    // The flash size comes from the family: generate after identifying.
    CBootLoader* probe = sim.Start(GetParam().device);
    ASSERT_NE(probe, nullptr);
    const unsigned int flashBytes = static_cast<unsigned int>(probe->GetDevice()->m_IFlashSize) * 1024;
    ASSERT_EQ(probe->GetDevice()->m_ISectorSize, GetParam().sectorSize);
    sim.Close();

    const Bytes image = kvtest::RandomBytes(flashBytes, flashBytes ^ 0x5EED);
    kvtest::WriteFile(sim.Path("image.bin"), image);
    CBootLoader* link = sim.Start(GetParam().device, {"--load-flash", sim.Path("image.bin")});
    ASSERT_NE(link, nullptr);

    const unsigned int sector = GetParam().sectorSize;
    const unsigned int sectors = flashBytes / sector;
    std::mt19937 gen(sectors);
    struct Run {
        unsigned int first, count;
    };
    std::vector<Run> runs = {{0, 1}, {sectors - 1, 1}, {0, sectors}};
    for (int k = 0; k < 4; ++k) {
        unsigned int first = static_cast<unsigned int>(gen() % sectors);
        runs.push_back({first, static_cast<unsigned int>(1 + gen() % (sectors - first))});
    }
    for (const Run& run : runs) {
        FlashCRCParam p;
        p.m_uiStartAddress = kFlash + run.first * sector;
        p.m_uiBeginSectorNum = run.first;
        p.m_uiSectorNumbers = run.count;
        link->FlashCRCCheck(p);
        ASSERT_EQ(SimLink::RunHere(link), 0u) << run.first << "+" << run.count;
        auto* op = static_cast<CFlashCRC*>(link->GetOperation());
        EXPECT_EQ(op->GetCRCValue(),
                  FirmwareCrc::Compute(image.data() + size_t(run.first) * sector,
                                       size_t(run.count) * sector))
            << run.first << "+" << run.count;
        EXPECT_EQ(op->GetName(), "Flash CRC calculate: Sector" + std::to_string(run.first) +
                                     "--Sector" + std::to_string(run.first + run.count - 1));
    }
    // A start that is no sector start is refused by the chip.
    FlashCRCParam bad;
    bad.m_uiStartAddress = kFlash + 4;
    bad.m_uiSectorNumbers = 1;
    link->FlashCRCCheck(bad);
    EXPECT_NE(SimLink::RunHere(link), 0u);
}

INSTANTIATE_TEST_SUITE_P(Families, ChipCrc,
                         ::testing::Values(Family{"KV32S01", 1024}, Family{"KV32S04", 2048},
                                           Family{"KV32S09", 2048}, Family{"KV32S13", 4096}),
                         [](const ::testing::TestParamInfo<Family>& info) {
                             return std::string(info.param.device);
                         });

// A file of two pieces, one of them unaligned and across a sector boundary.
struct Layout {
    uint32_t a = kFlash + 0x100;
    Bytes aData = kvtest::RandomBytes(3000, 1);
    uint32_t b = kFlash + 0x5432;
    Bytes bData = kvtest::RandomBytes(777, 2);
    size_t FlashSize() const { return 0x8000; }
    Bytes Flash() const
    {
        Bytes flash(FlashSize(), 0xFF);
        std::copy(aData.begin(), aData.end(), flash.begin() + (a - kFlash));
        std::copy(bData.begin(), bData.end(), flash.begin() + (b - kFlash));
        return flash;
    }
};

struct CheckCase {
    const char* name;
    const char* device;
    bool chipHasCrc;
    long changedOffset;  // flash byte changed before the check; -1 none
    int expected;
    bool readsBack;  // whether the check had to read flash
};

class FirmwareCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(FirmwareCheck, TellsWhetherTheChipHoldsTheFile)
{
    const CheckCase& c = GetParam();
    SimLink sim;
    Layout layout;
    WriteHex(sim.Path("app.hex"), {{layout.a, layout.aData}, {layout.b, layout.bData}});
    Bytes flash = layout.Flash();
    if (c.changedOffset >= 0)
        flash[static_cast<size_t>(c.changedOffset)] ^= 0x04;
    kvtest::WriteFile(sim.Path("flash.bin"), flash);
    CBootLoader* link = sim.Start(c.device, {"--load-flash", sim.Path("flash.bin")});
    ASSERT_NE(link, nullptr);
    if (!c.chipHasCrc)
        const_cast<Commands*>(link->GetCommands())->FIRMWARE_CRC_CMD = 0;

    FWCRCParam p;
    p.m_strDownPathFile.append(sim.Path("app.hex"));
    link->FirmwareCRCCheck(p);
    EXPECT_EQ(SimLink::RunHere(link), static_cast<unsigned int>(c.expected))
        << CResult::GetInfoStringName(c.expected);
    EXPECT_EQ(link->GetOperation()->GetName(), "Firmware CRC Check------(app.hex)");
    sim.Close();
    EXPECT_EQ(sim.LogCount("FIRMWARE_CRC of") > 0, c.chipHasCrc);
    EXPECT_EQ(sim.LogCount("byte(s) at 080") > 0, c.readsBack);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirmwareCheck,
    ::testing::Values(
        CheckCase{"Holds", "KV32S04", true, -1, CResult::SUCCESS, false},
        CheckCase{"HoldsSeries1", "KV32S01", true, -1, CResult::SUCCESS, false},
        CheckCase{"FlippedByte", "KV32S04", true, 0x100 + 2999, CResult::FWCRC_CHECK_FAILED, true},
        CheckCase{"FlippedByteSeries1", "KV32S01", true, 0x5432 + 5, CResult::FWCRC_CHECK_FAILED,
                  true},
        // Outside the file but inside a sector it covers: the checksums
        // differ, the read-back of the file's own bytes decides.
        CheckCase{"ChangedOutsideTheFile", "KV32S04", true, 0x10, CResult::SUCCESS, true},
        CheckCase{"NoCrcCommandHolds", "KV32S04", false, -1, CResult::SUCCESS, true},
        CheckCase{"NoCrcCommandFlipped", "KV32S04", false, 0x100, CResult::FWCRC_CHECK_FAILED,
                  true}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST(FirmwareCheckFiles, EmptyImageAndBinaryAtItsAddress)
{
    SimLink sim;
    const Bytes data = kvtest::RandomBytes(5000, 9);
    Bytes flash(0x4000, 0xFF);
    std::copy(data.begin(), data.end(), flash.begin() + 0x1800);
    kvtest::WriteFile(sim.Path("flash.bin"), flash);
    kvtest::WriteFile(sim.Path("app.bin"), data);
    WriteHex(sim.Path("empty.hex"), {});
    CBootLoader* link = sim.Start("KV32S04", {"--load-flash", sim.Path("flash.bin")});
    ASSERT_NE(link, nullptr);

    FWCRCParam empty;
    empty.m_strDownPathFile.append(sim.Path("empty.hex"));
    link->FirmwareCRCCheck(empty);
    EXPECT_EQ(SimLink::RunHere(link), static_cast<unsigned int>(CResult::FILES_EMPTY));

    struct Row {
        uint32_t address;
        int expected;
    };
    for (const Row& row : {Row{kFlash + 0x1800, CResult::SUCCESS},
                           Row{kFlash + 0x1000, CResult::FWCRC_CHECK_FAILED}}) {
        FWCRCParam p;
        p.m_strDownPathFile.append(sim.Path("app.bin"));
        p.m_uiStartAddress.append(row.address);
        link->FirmwareCRCCheck(p);
        EXPECT_EQ(SimLink::RunHere(link), static_cast<unsigned int>(row.expected)) << row.address;
    }
}

}  // namespace
