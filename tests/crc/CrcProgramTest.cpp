// "-d ... --crc" of the program against the simulated chip: a download
// checked by the chip's firmware CRC on every link, and a chip that does not
// hold the image after the download fails the command with exit code 3.

#include "HexFile.h"
#include "RunProgram.h"
#include "SimProcess.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

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
        std::vector<std::string> args = {"--link", GetParam().link, "--map", kvtest::mapDir(),
                                         "--dump", m_dir / "flash.dump", "--log",
                                         m_dir / "sim.log"};
        args.insert(args.end(), extra.begin(), extra.end());
        return m_dir.ok() && m_sim.start(args);
    }
    ProgramRun Run(const std::vector<std::string>& commands)
    {
        std::vector<std::string> args = {GetParam().connect, "--pn", m_sim.portName()};
        args.insert(args.end(), commands.begin(), commands.end());
        return RunProgram(TARNFLASH_BINARY, args, m_dir.path(), 120);
    }
    std::string Log()
    {
        const Bytes log = kvtest::ReadFile(m_dir / "sim.log");
        return std::string(log.begin(), log.end());
    }

    kvtest::ScratchDir m_dir;
    kvtest::SimProcess m_sim;
};

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
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

INSTANTIATE_TEST_SUITE_P(Links, CrcDownload,
                         ::testing::Values(LinkFlavour{"usart", "-com"}, LinkFlavour{"i2c", "-i2c"},
                                           LinkFlavour{"spi", "-spi"}, LinkFlavour{"can", "-can"}),
                         [](const ::testing::TestParamInfo<LinkFlavour>& info) {
                             return std::string(info.param.link);
                         });

}  // namespace
