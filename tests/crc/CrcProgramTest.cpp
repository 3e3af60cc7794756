// "-d ... --crc" and "-d ... --delta" of the program against the simulated
// chip: a download checked by the chip's firmware CRC on every link, a chip
// that does not hold the image after the download fails the command with
// exit code 3, a delta download erases and writes nothing but the sectors
// that differ, and an upload is confirmed by the chip's CRC.

#include "HexFile.h"
#include "ProgramOnSim.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using crctest::WriteHex;
using kvtest::Bytes;

const uint32_t kFlash = 0x08000000;

struct LinkFlavour {
    const char* link;
    const char* connect;
};

class CrcDownload : public ::testing::TestWithParam<LinkFlavour> {
protected:
    bool StartSim(const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args = {"--dump", m_dir / "flash.dump", "--log", m_dir / "sim.log"};
        args.insert(args.end(), extra.begin(), extra.end());
        return m_dir.ok() && kvtest::StartChip(m_sim, GetParam().link, args);
    }
    ProgramRun Run(const std::vector<std::string>& commands)
    {
        return kvtest::RunOnChip(m_sim, GetParam().connect, commands, m_dir.path());
    }
    std::string Log() { return kvtest::TextOf(m_dir / "sim.log"); }

    kvtest::ScratchDir m_dir;
    kvtest::SimProcess m_sim;
};

using kvtest::Contains;

// What the chip was asked to do, from (a part of) its log: the sectors
// erased and written (main flash from 0, external bank from 0x8000), the
// CRC requests and the reads of flash.
struct Changes {
    std::set<int> erased, written;
    int erases = 0, crcRequests = 0, reads = 0;
};

Changes ChangesIn(const std::string& log, unsigned sectorSize)
{
    Changes c;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        unsigned n = 0, at = 0;
        if (const char* p = std::strstr(line.c_str(), "erase of "); p &&
            std::sscanf(p, "erase of %u page(s) from %x", &n, &at) == 2) {
            ++c.erases;
            for (unsigned k = 0; k < n; ++k)
                c.erased.insert(static_cast<int>(at + k));
        } else if (const char* w = std::strstr(line.c_str(), "WRITE "); w &&
                   std::sscanf(w, "WRITE %u byte(s) at %x", &n, &at) == 2) {
            c.written.insert(at >= 0x08400000u ? 0x8000 + int((at - 0x08400000u) / 4096)
                                                : int((at - kFlash) / sectorSize));
        } else if (const char* r = std::strstr(line.c_str(), "READ "); r &&
                   std::sscanf(r, "READ %u byte(s) at %x", &n, &at) == 2) {
            if (at < 0x1FFF0000u)  // flash, not the option bytes
                ++c.reads;
        } else if (Contains(line, "FIRMWARE_CRC of")) {
            ++c.crcRequests;
        }
    }
    return c;
}

TEST_P(CrcDownload, ChecksTheWrittenImage)
{
    ASSERT_TRUE(StartSim());
    const Bytes a = kvtest::RandomBytes(6000, 11), b = kvtest::RandomBytes(300, 12);
    WriteHex(m_dir / "app.hex", {{kFlash + 0x80, a}, {kFlash + 0x4000, b}});
    ProgramRun run = Run({"-d", "--fn", m_dir / "app.hex", "--crc"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    // The check reports as the verify does: its file, then one percent line
    // that ends at 100 %, and nothing after it but the final message.
    EXPECT_TRUE(Contains(run.out, "Firmware CRC Check\n" + (m_dir / "app.hex") + "     6300B\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Running...100%\nDownload successfully!")) << run.out;
    size_t lines = 0;
    for (size_t at = run.out.find("Running...100%"); at != std::string::npos;
         at = run.out.find("Running...100%", at + 1))
        ++lines;
    EXPECT_EQ(lines, 3u) << "erase, download, check\n" << run.out;
    EXPECT_FALSE(Contains(run.out, "Verify")) << run.out;
    m_sim.stop();
    const std::string log = Log();
    EXPECT_TRUE(Contains(log, "command AC FIRMWARE_CRC")) << "the chip was asked for its checksum";

    const Bytes flash = kvtest::ReadFile(m_dir / "flash.dump");
    ASSERT_EQ(flash.size(), 256u * 1024);
    EXPECT_EQ(Bytes(flash.begin() + 0x80, flash.begin() + 0x80 + 6000), a);
    EXPECT_EQ(Bytes(flash.begin() + 0x4000, flash.begin() + 0x4000 + 300), b);
}

// Both checks when both are asked for.
TEST_P(CrcDownload, WithVerifyBothRun)
{
    ASSERT_TRUE(StartSim());
    WriteHex(m_dir / "app.hex", {{kFlash, kvtest::RandomBytes(3000, 13)}});
    ProgramRun run = Run({"-d", "--fn", m_dir / "app.hex", "--v", "--crc"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Verify\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Firmware CRC Check\n")) << run.out;
}

// A worn flash cell: the chip acknowledges every write, but one bit of one
// byte stays 1. The chip does not hold the image, and the check says so.
TEST_P(CrcDownload, WornCellFailsTheCheck)
{
    ASSERT_TRUE(StartSim({"--fault", "weak:0x08000123:0x10"}));
    WriteHex(m_dir / "app.hex", {{kFlash, Bytes(1024, 0x00)}});
    ProgramRun run = Run({"-d", "--fn", m_dir / "app.hex", "--crc"});
    EXPECT_EQ(run.exitCode, 3) << run.out;
    EXPECT_TRUE(Contains(run.out, "Firmware CRC check failed!")) << run.out;
    EXPECT_FALSE(Contains(run.out, "Download successfully!")) << run.out;
}

// After a mass erase only the first download skips its erase: a second
// download of the same run erases what it writes on, so an optimised image
// whose first packet is all 0xFF does not leave the earlier bytes under it.
TEST_P(CrcDownload, SecondDownloadAfterMassEraseErasesItsSectors)
{
    ASSERT_TRUE(StartSim());
    WriteHex(m_dir / "old.hex", {{kFlash, Bytes(252, 0x00)}});
    Bytes image(1024, 0x11);
    std::fill(image.begin(), image.begin() + 252, 0xFF);
    WriteHex(m_dir / "app.hex", {{kFlash, image}});
    ProgramRun run = Run({"-e", "--all", "-d", "--fn", m_dir / "old.hex", "-d", "--fn",
                          m_dir / "app.hex", "--o", "--crc"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    m_sim.stop();
    const Bytes flash = kvtest::ReadFile(m_dir / "flash.dump");
    ASSERT_GE(flash.size(), image.size());
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + image.size()), image);
}

// A delta download after one sector changed: that sector alone is erased
// and written, on every link, and the chip holds the new image.
TEST_P(CrcDownload, DeltaRewritesOnlyTheChangedSector)
{
    ASSERT_TRUE(StartSim());
    Bytes image = kvtest::RandomBytes(40 * 1024, 21);
    kvtest::WriteFile(m_dir / "app.bin", image);
    ASSERT_EQ(Run({"-d", "--fn", m_dir / "app.bin"}).exitCode, 0);
    image[9 * 2048 + 100] ^= 0x5A;
    kvtest::WriteFile(m_dir / "app.bin", image);
    const size_t from = Log().size();
    ProgramRun run = Run({"-d", "--fn", m_dir / "app.bin", "--delta"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Sectors written: 1 of 20 (the others already held the image)"))
        << run.out;
    m_sim.stop();
    const Changes c = ChangesIn(Log().substr(from), 2048);
    EXPECT_EQ(c.erased, std::set<int>({9}));
    EXPECT_EQ(c.written, std::set<int>({9}));
    const Bytes flash = kvtest::ReadFile(m_dir / "flash.dump");
    ASSERT_GE(flash.size(), image.size());
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + image.size()), image);
}

INSTANTIATE_TEST_SUITE_P(Links, CrcDownload,
                         ::testing::Values(LinkFlavour{"usart", "-com"}, LinkFlavour{"i2c", "-i2c"},
                                           LinkFlavour{"spi", "-spi"}, LinkFlavour{"can", "-can"}),
                         [](const ::testing::TestParamInfo<LinkFlavour>& info) {
                             return std::string(info.param.link);
                         });

// The delta download's cases on the USART link: what stays, what is
// rewritten, and what the chip holds afterwards.
class DeltaDownload : public ::testing::Test {
protected:
    bool StartSim(const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args = {"--dump", m_dir / "flash.dump", "--log", m_dir / "sim.log"};
        args.insert(args.end(), extra.begin(), extra.end());
        return m_dir.ok() && kvtest::StartChip(m_sim, "usart", args);
    }
    ProgramRun Run(const std::vector<std::string>& commands)
    {
        return kvtest::RunOnChip(m_sim, "-com", commands, m_dir.path());
    }
    std::string Log() { return kvtest::TextOf(m_dir / "sim.log"); }
    Bytes Flash()
    {
        m_sim.stop();
        return kvtest::ReadFile(m_dir / "flash.dump");
    }

    kvtest::ScratchDir m_dir;
    kvtest::SimProcess m_sim;
};

TEST_F(DeltaDownload, WritesOnlyWhatDiffers)
{
    const Bytes old = kvtest::RandomBytes(20 * 1024, 31);
    struct Case {
        const char* what;
        std::vector<std::string> extra;  // before -d
        uint32_t address;
        Bytes image;
        std::set<int> rewritten;
    };
    const Bytes bank = kvtest::RandomBytes(9000, 32);
    Bytes bankChanged = bank;
    bankChanged[8500] ^= 1;
    const std::vector<Case> cases = {
        // The chip already holds the image: nothing is erased or written.
        {"unchanged", {}, kFlash, old, {}},
        // A shorter image: its last sector held more of the old one and is
        // rewritten (blank after the image); the sectors after it are left.
        {"shorter image", {}, kFlash, Bytes(old.begin(), old.begin() + 5000), {2}},
        // The external bank in 4 KB sectors: the third one differs.
        {"external bank", {"-enspim", "--fs", "1"}, 0x08400000, bankChanged, {0x8002}},
    };
    ASSERT_TRUE(StartSim());
    kvtest::WriteFile(m_dir / "old.bin", old);
    kvtest::WriteFile(m_dir / "bank.bin", bank);
    ASSERT_EQ(Run({"-enspim", "--fs", "1", "-d", "--fn", m_dir / "old.bin", "-d", "--fn",
                   m_dir / "bank.bin", "--addr", "08400000"})
                  .exitCode,
              0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kvtest::WriteFile(m_dir / "new.bin", c.image);
        const size_t from = Log().size();
        std::vector<std::string> commands = c.extra;
        char address[16];
        std::snprintf(address, sizeof address, "%08X", c.address);
        for (const char* w : {"-d", "--fn"})
            commands.push_back(w);
        commands.insert(commands.end(), {m_dir / "new.bin", "--addr", address, "--delta"});
        ProgramRun run = Run(commands);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        const Changes changes = ChangesIn(Log().substr(from), 2048);
        EXPECT_EQ(changes.erased, c.rewritten);
        EXPECT_EQ(changes.written, c.rewritten);
        // The chip's CRC decided, not a read-back: the one read allowed is
        // the one that completes a write's short last packet.
        EXPECT_LE(changes.reads, 1);
        // What the chip holds, read back by the program itself.
        const bool inBank = c.address >= 0x08400000;
        const size_t span = (c.image.size() + 4095) / 4096 * 4096;
        const std::string sectors = inBank ? "32768-" + std::to_string(32768 + span / 4096 - 1)
                                           : "0-" + std::to_string(span / 2048 - 1);
        run = Run({"-enspim", "--fs", "1", "-u", "--sec", sectors, "--fn", m_dir / "back.bin"});
        ASSERT_EQ(run.exitCode, 0) << run.out;
        const Bytes back = kvtest::ReadFile(m_dir / "back.bin");
        ASSERT_EQ(back.size(), span);
        EXPECT_EQ(Bytes(back.begin(), back.begin() + c.image.size()), c.image);
        if (!inBank && c.image.size() < old.size()) {
            // Blank to the end of the image's last sector, the old image after it.
            EXPECT_EQ(Bytes(back.begin() + c.image.size(), back.begin() + 6144),
                      Bytes(6144 - c.image.size(), 0xFF));
            EXPECT_EQ(Bytes(back.begin() + 6144, back.end()),
                      Bytes(old.begin() + 6144, old.begin() + span));
        }
    }
}

// Without FIRMWARE_CRC in the chip's list: one line says so, everything is
// written and read back.
TEST_F(DeltaDownload, ChipWithoutFirmwareCrcGetsTheFullDownload)
{
    ASSERT_TRUE(StartSim({"--unlist", "AC"}));
    const Bytes image = kvtest::RandomBytes(6000, 33);
    kvtest::WriteFile(m_dir / "app.bin", image);
    ASSERT_EQ(Run({"-d", "--fn", m_dir / "app.bin"}).exitCode, 0);
    const size_t from = Log().size();
    ProgramRun run = Run({"-d", "--fn", m_dir / "app.bin", "--delta"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "The chip has no firmware CRC command: downloading every sector "
                                  "and checking by read-back.\n"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "Verify\n")) << run.out;
    const Changes c = ChangesIn(Log().substr(from), 2048);
    EXPECT_EQ(c.erased, std::set<int>({0, 1, 2}));
    EXPECT_EQ(c.crcRequests, 0);
    const Bytes flash = Flash();
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + image.size()), image);
}

// A worn cell: the sector that holds it always differs, is rewritten, and
// still does not hold the image; the final check says so.
TEST_F(DeltaDownload, WornCellIsCaughtByTheFinalCheck)
{
    ASSERT_TRUE(StartSim({"--fault", "weak:0x08000900:0x10"}));
    const Bytes image(6000, 0x00);
    kvtest::WriteFile(m_dir / "app.bin", image);
    ASSERT_EQ(Run({"-d", "--fn", m_dir / "app.bin"}).exitCode, 0);
    const size_t from = Log().size();
    ProgramRun run = Run({"-d", "--fn", m_dir / "app.bin", "--delta"});
    EXPECT_EQ(run.exitCode, 3) << run.out;
    EXPECT_TRUE(Contains(run.out, "Firmware CRC check failed!")) << run.out;
    EXPECT_FALSE(Contains(run.out, "Download successfully!")) << run.out;
    EXPECT_EQ(ChangesIn(Log().substr(from), 2048).erased, std::set<int>({1}));
}

// A byte flipped on the line inside a READ answer: the run's CRC differs,
// the run is read again, and the file holds what the chip holds.
TEST_F(DeltaDownload, UploadOverAFlippedReadByteIsConfirmedByTheChipCrc)
{
    ASSERT_TRUE(StartSim({"--fault", "flip:3000:0x04"}));
    const Bytes image = kvtest::RandomBytes(8192, 34);
    kvtest::WriteFile(m_dir / "app.bin", image);
    ASSERT_EQ(Run({"-d", "--fn", m_dir / "app.bin"}).exitCode, 0);
    const size_t from = Log().size();
    ProgramRun run = Run({"-u", "--sec", "0-3", "--fn", m_dir / "up.bin"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(kvtest::ReadFile(m_dir / "up.bin"), image);
    const std::string log = Log().substr(from);
    EXPECT_TRUE(Contains(log, "FAULT flip")) << "the fault hit this upload";
    const Changes c = ChangesIn(log, 2048);
    // One pass of 4 sectors (9 packets each), one CRC that differs, the run
    // read again (every packet twice: a byte counts once two reads agree),
    // one CRC that agrees.
    EXPECT_EQ(c.crcRequests, 2);
    EXPECT_EQ(c.reads, 3 * 4 * 9);
}

}  // namespace
