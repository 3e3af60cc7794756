// The external-bank and OTP commands of the program against the simulated
// chip, commands the chip refuses, and a whole download line with option
// bytes and protection.

#include "SimChip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace prottest;

// ---- external SPI flash --------------------------------------------------------

TEST(ProtectionEndToEnd, ExternalBankTakesADownloadAndGivesItBack)
{
    Chip chip("KV32S04");
    Bytes image(6000);
    for (size_t k = 0; k < image.size(); ++k)
        image[k] = static_cast<unsigned char>((k * 7 + 3) & 0xFF);
    WriteFile(chip.Path("ext.bin"), image);
    ProgramRun run = chip.Run({"-enspim", "--ft", "2", "--fs", "1", "--fda", "0", "-d", "--fn",
                               chip.Path("ext.bin"), "--addr", "0x08400000", "--v", "-u", "--sec",
                               "32768-32769", "--fn", chip.Path("back.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    Bytes back = ReadFile(chip.Path("back.bin"));
    ASSERT_EQ(back.size(), 8192u);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 6000), image);
    EXPECT_EQ(Bytes(back.begin() + 6000, back.end()), Bytes(8192 - 6000, 0xFF));
}

// What the chip receives: the type byte, the size in bytes, and on series 4
// a FLASH_DA of 0 while the bank keys are blank.
TEST(ProtectionEndToEnd, ExternalBankSettingsAsTheChipReceivesThem)
{
    struct Case {
        const char* what;
        unsigned char key0;  // first bank key in the option bytes written first
        std::vector<std::string> options;
        const char* logged;
    };
    const Case cases[] = {
        {"blank keys", 0xFF, {"--ft", "1", "--fs", "4", "--fda", "1000"},
         "ENABLE_BANK3 type 91 size 4194304 FLASH_DA 00000000"},
        {"mixed keys", 0x12, {"--ft", "2", "--fs", "16", "--fda", "1000"},
         "ENABLE_BANK3 type 90 size 16777216 FLASH_DA 00001000"},
    };
    for (const Case& c : cases) {
        Chip chip("KV32S04", {"--log", "LOG"});
        WriteFile(chip.Path("keys.bin"), OptionBytesFile({{16, c.key0}}));  // option byte 16: bank key 0
        std::vector<std::string> commands = {"-usd", "--set", "--fn", chip.Path("keys.bin"), "-enspim"};
        commands.insert(commands.end(), c.options.begin(), c.options.end());
        ProgramRun run = chip.Run(commands);
        ASSERT_EQ(run.exitCode, 0) << c.what << "\n" << run.out;
        chip.SystemMemory();  // stops the chip: its log is complete
        const Bytes log = ReadFile(chip.Path("LOG"));
        EXPECT_TRUE(Contains(std::string(log.begin(), log.end()), c.logged)) << c.what;
    }
}

TEST(ProtectionEndToEnd, ExternalBankRefusesBadInput)
{
    Chip chip("KV32S04");
    Bytes broken(4096, 0xFF);  // every complement wrong
    WriteFile(chip.Path("keys.bin"), broken);
    struct Case {
        std::vector<std::string> commands;
        const char* line;
    };
    const Case cases[] = {
        {{"-enspim", "--fs", "0"}, "bad parameter \"0\"\n"},
        {{"-enspim", "--fs", "17"}, "bad parameter \"17\"\n"},
        {{"-enspim", "--fs", "4294967297"}, "bad parameter \"4294967297\"\n"},
        {{"-enspim", "--fsize", "1"}, "bad parameter \"--fsize\"\n"},
        // The user-system-data file that goes with a FLASH_DA cannot be written.
        {{"-enspim", "--fs", "1", "--fda", "1000", "-usd", "--set", "--fn", chip.Path("keys.bin")},
         "Set user system data to device failed!\n"},
    };
    for (const Case& c : cases) {
        ProgramRun run = chip.Run(c.commands);
        EXPECT_EQ(run.exitCode, 8) << c.commands[1] << "\n" << run.out;
        EXPECT_TRUE(Contains(run.out, c.line)) << run.out;
        EXPECT_FALSE(Contains(run.out, "Enable Bank3")) << run.out;
    }
}

// ---- OTP -----------------------------------------------------------------------

struct OtpArea {
    const char* device;
    uint32_t dataAddress;
};

// Printed in test names: the device alone.
void PrintTo(const OtpArea& area, std::ostream* os)
{
    *os << area.device;
}

class OtpOnSeries : public ::testing::TestWithParam<OtpArea> {};

TEST_P(OtpOnSeries, DataAndLockBytesLandInTheSeriesArea)
{
    Chip chip(GetParam().device);
    // Record 0 fills block 0 and locks it; record 1 writes at 0x40 without
    // locking; record 2 is neither written nor locked.
    WriteFile(chip.Path("data.kvtp"), Concat({OtpRecord(0, 0x10, true, true), OtpRecord(0x40, 0x80, false, true),
                                              OtpRecord(0x60, 0x55, false, false)}));
    ProgramRun run = chip.Run({"-otp", "--fn", chip.Path("data.kvtp")});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Set OTP data to device\nrunning...\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "set OTP data to device successfully!\n")) << run.out;

    const Bytes system = chip.SystemMemory();
    const uint32_t base = GetParam().dataAddress;
    EXPECT_EQ(Chip::Slice(system, base, 32), DataOf(OtpRecord(0, 0x10, true, true)));
    EXPECT_EQ(Chip::Slice(system, base + 0x20, 32), Bytes(32, 0xFF));
    EXPECT_EQ(Chip::Slice(system, base + 0x40, 32), DataOf(OtpRecord(0x40, 0x80, false, true)));
    EXPECT_EQ(Chip::Slice(system, base + 0x60, 32), Bytes(32, 0xFF));
    EXPECT_EQ(Chip::Slice(system, kLockAddress, 3), (Bytes{0x00, 0xFF, 0xFF}));

    // Block 0 is locked for good: writing it again fails.
    run = chip.Run({"-otp", "--fn", chip.Path("data.kvtp")});
    EXPECT_EQ(run.exitCode, 64) << run.out;
    EXPECT_TRUE(Contains(run.out, "Write OTP data failed!\n")) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Series, OtpOnSeries,
                         ::testing::Values(OtpArea{"KV32S21", 0x1FFFE400}, OtpArea{"KV32S25", 0x1FFFF000}),
                         [](const ::testing::TestParamInfo<OtpArea>& info) { return std::string(info.param.device); });

// Lock bytes cannot be undone: every fault of the file is found before the
// first byte is written.
TEST(ProtectionEndToEnd, OtpFileFaultsWriteNothing)
{
    Chip chip("KV32S25");  // 1024-byte data area
    const Bytes good = OtpRecord(0, 0x01, true, true);
    WriteFile(chip.Path("empty.kvtp"), Bytes());
    WriteFile(chip.Path("short.kvtp"), Bytes(good.begin(), good.begin() + 37));
    WriteFile(chip.Path("partial.kvtp"), Concat({good, Bytes(good.begin(), good.begin() + 10)}));
    WriteFile(chip.Path("over.kvtp"), Concat({good, OtpRecord(1000, 0x02, false, true)}));
    WriteFile(chip.Path("lockmismatch.kvtp"), Concat({good, OtpRecord(0x80, 0x03, true, true)}));
    WriteFile(chip.Path("wrong.bin"), good);
    WriteFile(chip.Path("huge.kvtp"), Bytes((1 << 20) + 38, 0xFF));

    struct Case {
        const char* file;
        int exitCode;
        const char* line;
    };
    const Case cases[] = {
        // No record: nothing to write, and that is done.
        {"empty.kvtp", 0, "set OTP data to device successfully!\n"},
        {"huge.kvtp", 64, "The OTP data file is too large.\nGet OTP data from the configuration file failed!\n"},
        {"short.kvtp", 64, "Get OTP data from the configuration file failed!\n"},
        {"partial.kvtp", 64, "Get OTP data from the configuration file failed!\n"},
        {"over.kvtp", 64, "Get OTP data from the configuration file failed!\n"},
        {"lockmismatch.kvtp", 64, "Get OTP data from the configuration file failed!\n"},
        {"missing.kvtp", 64, "Get OTP data from the configuration file failed!\n"},
        // A bad name ends the run instead of letting it go on as if done.
        {"wrong.bin", 1, "bad parameter"},
    };
    for (const Case& c : cases) {
        ProgramRun run = chip.Run({"-otp", "--fn", chip.Path(c.file)});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.file << "\n" << run.out;
        EXPECT_TRUE(Contains(run.out, c.line)) << c.file << "\n" << run.out;
    }
    const Bytes system = chip.SystemMemory();
    EXPECT_EQ(Chip::Slice(system, 0x1FFFF000, 1024), Bytes(1024, 0xFF));
    EXPECT_EQ(Chip::Slice(system, kLockAddress, 128), Bytes(128, 0xFF));
}

TEST(ProtectionEndToEnd, OtpOnAChipWithoutAnOtpAreaIsRefused)
{
    Chip chip("KV32S04");
    WriteFile(chip.Path("data.kvtp"), OtpRecord(0, 0x01, true, true));
    ProgramRun run = chip.Run({"-otp", "--fn", chip.Path("data.kvtp")});
    EXPECT_EQ(run.exitCode, 64) << run.out;
    EXPECT_TRUE(Contains(run.out, "The device has no OTP area!\n")) << run.out;
}

// ---- the chip refuses ------------------------------------------------------------

TEST(ProtectionEndToEnd, ACommandTheChipRefusesFailsWithItsExitCode)
{
    struct Case {
        const char* device;
        std::vector<std::string> simArgs;
        std::vector<std::string> commands;
        int exitCode;
    };
    // A refusal at the first acknowledge leaves nothing done, so the command
    // layer sends the command again: the chip refuses every time here.
    auto refused = kvtest::refusedEveryTime;
    std::vector<std::string> protectedChip = refused(0x92, 1);
    protectedChip.insert(protectedChip.begin(), {"--protect", "1"});
    const Case cases[] = {
        {"KV32S04", refused(0x82, 1), {"-p", "--efap"}, 32},
        {"KV32S15", refused(0xD6, 1), {"-p", "--efap2", "--y"}, 33},
        {"KV32S04", protectedChip, {"-p", "--drp"}, 34},
        {"KV32S04", refused(0x73, 1), {"-p", "--dwp"}, 35},
        {"KV32S04", refused(0x63, 1), {"-p", "--ewp", "0-1"}, 36},
        {"KV32S04", refused(0xB3, 1), {"-enspim", "--fs", "1"}, 8},
        {"KV32S21", refused(0x31, 1), {"-otp", "--fn", "DATA"}, 64},
        {"KV32S04", refused(0x31, 1), {"-usd", "--set", "--fn", "USD"}, 6},
    };
    for (const Case& c : cases) {
        Chip chip(c.device, c.simArgs);
        WriteFile(chip.Path("data.kvtp"), OtpRecord(0, 0x01, false, true));
        WriteFile(chip.Path("usd.bin"), OptionBytesFile({}));
        std::vector<std::string> commands = c.commands;
        if (commands.back() == "DATA")
            commands.back() = chip.Path("data.kvtp");
        if (commands.back() == "USD")
            commands.back() = chip.Path("usd.bin");
        ProgramRun run = chip.Run(commands);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.simArgs.back() << "\n" << run.out;
        EXPECT_FALSE(Contains(run.out, "successfully!")) << run.out;
    }
}

// ---- the whole road -------------------------------------------------------------

// Intel HEX of the bytes at the address (extended linear address records).
std::string IntelHex(uint32_t address, const Bytes& data)
{
    std::string out;
    auto record = [&out](uint8_t type, uint16_t offset, const unsigned char* bytes, size_t n) {
        char buf[16];
        unsigned sum = static_cast<unsigned>(n) + (offset >> 8) + (offset & 0xFF) + type;
        std::snprintf(buf, sizeof buf, ":%02X%04X%02X", static_cast<unsigned>(n), offset, type);
        out += buf;
        for (size_t k = 0; k < n; ++k) {
            std::snprintf(buf, sizeof buf, "%02X", bytes[k]);
            out += buf;
            sum += bytes[k];
        }
        std::snprintf(buf, sizeof buf, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        out += buf;
    };
    const unsigned char upper[2] = {static_cast<unsigned char>(address >> 24), static_cast<unsigned char>(address >> 16)};
    record(0x04, 0, upper, 2);
    for (size_t at = 0; at < data.size(); at += 16)
        record(0x00, static_cast<uint16_t>((address & 0xFFFF) + at), &data[at], std::min<size_t>(16, data.size() - at));
    record(0x01, 0, nullptr, 0);
    return out;
}

TEST(ProtectionEndToEnd, DownloadWithOptionBytesAndProtectionOnOneLine)
{
    Chip chip("KV32S04");
    Bytes app(3000);
    for (size_t k = 0; k < app.size(); ++k)
        app[k] = static_cast<unsigned char>(k * 13);
    {
        std::ofstream out(chip.Path("app.hex"));
        out << IntelHex(0x08000000, app);
    }
    const Bytes usd = OptionBytesFile({{2, 0x77}});
    WriteFile(chip.Path("usd.bin"), usd);

    ProgramRun run = chip.Run({"-d", "--fn", chip.Path("app.hex"), "--v", "-usd", "--set", "--fn",
                               chip.Path("usd.bin"), "--get", "--fn", chip.Path("check.bin"), "-u", "--sec", "0-1",
                               "--fn", chip.Path("back.bin"), "-p", "--ewp", "0-1", "--efap"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const Bytes back = ReadFile(chip.Path("back.bin"));
    ASSERT_EQ(back.size(), 4096u);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 3000), app);
    EXPECT_EQ(ReadFile(chip.Path("check.bin")), usd);

    // Protected now: reads and erases are refused until both protections go.
    run = chip.Run({"-u", "--sec", "0-1", "--fn", chip.Path("x.bin")});
    EXPECT_EQ(run.exitCode, 4) << run.out;
    run = chip.Run({"-p", "--dfap", "--depp", "-usd", "--get", "--fn", chip.Path("after.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const Bytes after = ReadFile(chip.Path("after.bin"));
    ASSERT_EQ(after.size(), 4096u);
    EXPECT_EQ(after[0], 0xA5) << "unprotect leaves the chip unprotected";
}

} // namespace
