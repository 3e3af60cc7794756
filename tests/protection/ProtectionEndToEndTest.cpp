// The protection and option-byte commands of the program against the
// simulated chip: exit codes, the lines they print, and what the chip holds
// afterwards.

#include "SimChip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace prottest;

// ---- access protection -------------------------------------------------------

TEST(ProtectionEndToEnd, Level1RefusesReadsAndUnprotectMassErasesAndRestoresThem)
{
    Chip chip("KV32S04");
    WriteFile(chip.Path("app.bin"), Bytes(4096, 0x5A));
    ProgramRun run = chip.Run({"-d", "--fn", chip.Path("app.bin"), "-p", "--efap"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Enable access protection successfully!")) << run.out;

    run = chip.Run({"-u", "--sec", "0-1", "--fn", chip.Path("locked.bin")});
    EXPECT_EQ(run.exitCode, 4) << run.out;

    // Enabling again on a protected chip sends nothing and succeeds.
    run = chip.Run({"-p", "--efap1"});
    EXPECT_EQ(run.exitCode, 0) << run.out;

    run = chip.Run({"-p", "--dfap", "-u", "--sec", "0-1", "--fn", chip.Path("after.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Disable access protection successfully!")) << run.out;
    EXPECT_EQ(ReadFile(chip.Path("after.bin")), Bytes(4096, 0xFF)) << "unprotect must mass-erase";
}

TEST(ProtectionEndToEnd, OneTimeLevel2NeedsConfirmationAndIsThenPermanent)
{
    Chip chip("KV32S15");
    ProgramRun run = chip.Run({"-p", "--efap2", "-u", "--sec", "0-0", "--fn", chip.Path("a.bin")});
    EXPECT_EQ(run.exitCode, 33) << run.out;
    EXPECT_TRUE(Contains(run.out, "KV32S15/S18/S29/S16/S19/S20/S21/S22/S23/S30/S25/S26/S28/S31/S32 need a "
                                  "parameter \"--y\" for operation \"--efap2\"!\n"))
        << run.out;
    // The chip was left alone.
    run = chip.Run({"-u", "--sec", "0-0", "--fn", chip.Path("a.bin")});
    EXPECT_EQ(run.exitCode, 0) << run.out;

    // The confirmation is matched in any case and taken as the value.
    run = chip.Run({"-p", "--efap2", "--Y"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    run = chip.Run({"-p", "--dfap"});
    EXPECT_EQ(run.exitCode, 34) << run.out;
    run = chip.Run({"-u", "--sec", "0-0", "--fn", chip.Path("b.bin")});
    EXPECT_EQ(run.exitCode, 4) << run.out;
}

// A "--y" after "--efap2" on a series that needs no confirmation is still the
// confirmation: read as a sub-option it would swallow the next command.
TEST(ProtectionEndToEnd, ConfirmationIsConsumedOnSeriesWithoutOneTimeProtection)
{
    Chip chip("KV32S04");
    ProgramRun run = chip.Run({"-p", "--efap2", "--y", "-u", "--sec", "0-0", "--fn", chip.Path("a.bin")});
    EXPECT_EQ(run.exitCode, 4) << "the upload must run and be refused by the protected chip\n" << run.out;
    EXPECT_TRUE(Contains(run.out, "Enable access protection successfully!")) << run.out;
}

// A one-time level-2 chip keeps its protection: disabling it is a failure,
// never a success.
TEST(ProtectionEndToEnd, UnprotectOfPermanentProtectionFails)
{
    Chip chip("KV32S15", {"--protect", "2"});
    ProgramRun run = chip.Run({"-p", "--drp"});
    EXPECT_EQ(run.exitCode, 34) << run.out;
    EXPECT_FALSE(Contains(run.out, "Disable access protection successfully!")) << run.out;
}

// ---- erase/program protection ------------------------------------------------

TEST(ProtectionEndToEnd, EraseProgramProtectionRefusesErasesUntilRemoved)
{
    Chip chip("KV32S04");
    ProgramRun run = chip.Run({"-p", "--eepp", "0-3", "-e", "--sec", "2-2"});
    EXPECT_EQ(run.exitCode, 51) << run.out;
    EXPECT_TRUE(Contains(run.out, "The device is erase and program protection!\n")) << run.out;

    run = chip.Run({"-e", "--sec", "4-4"});
    EXPECT_EQ(run.exitCode, 0) << "sector 4 lies outside the protected range\n" << run.out;

    // Sub-options act in command-line order: protect, then remove.
    run = chip.Run({"-p", "--ewp", "0-3", "--dwp", "-e", "--sec", "2-2"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
}

TEST(ProtectionEndToEnd, BadProtectionInputIsRefusedBeforeTheChipIsTouched)
{
    struct Case {
        std::vector<std::string> commands;
        int exitCode;
        const char* line;
    };
    const Case cases[] = {
        {{"-p", "--eepp", "0-128"}, 36, "bad parameter \"0-128\"\n"},  // 128 sectors of 2 KB
        {{"-p", "--eepp", "5-2"}, 36, "bad parameter \"5-2\"\n"},
        {{"-p", "--eepp", "--depp"}, 36, "bad parameter \"--depp\"\n"},  // would read as sector 0
        {{"-p", "--eepp"}, 36, "bad parameter"},
        {{"-enspim", "--fs", "1", "-p", "--eepp", "0-300"}, 36, "bad parameter \"0-300\"\n"},
        {{"-p", "--efapp"}, 1, "bad parameter \"--efapp\"\n"},
        {{"-p", "efap"}, 1, "bad parameter \"efap\"\n"},
    };
    Chip chip("KV32S04");
    for (const Case& c : cases) {
        ProgramRun run = chip.Run(c.commands);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.commands.back() << "\n" << run.out;
        EXPECT_TRUE(Contains(run.out, c.line)) << run.out;
    }
    // Nothing was protected: every sector still erases.
    ProgramRun run = chip.Run({"-e", "--sec", "0-127"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
}

// ---- user system data ---------------------------------------------------------

TEST(ProtectionEndToEnd, OptionBytesRoundTripThroughAFile)
{
    Chip chip("KV32S04");
    ProgramRun run = chip.Run({"-usd", "--get", "--fn", chip.Path("read.bin"), "-u", "--sec", "0-0", "--fn",
                               chip.Path("x.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Get user system data to file\nrunning...\nGet user system data to file succeed!\n"))
        << run.out;
    Bytes image = ReadFile(chip.Path("read.bin"));
    ASSERT_EQ(image.size(), 4096u);
    // A user data byte with its complement.
    image[4] = 0x3C;
    image[5] = 0xC3;
    WriteFile(chip.Path("set.bin"), image);
    run = chip.Run({"-o", "--set", "--fn", chip.Path("set.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Set user system data to device successfully!\n")) << run.out;

    run = chip.Run({"-usd", "--get", "--fn", chip.Path("again.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(ReadFile(chip.Path("again.bin")), image);
}

TEST(ProtectionEndToEnd, OptionBytesAreNeverWrittenFromABadFile)
{
    Chip chip("KV32S04");
    ProgramRun run = chip.Run({"-usd", "--get", "--fn", chip.Path("orig.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const Bytes orig = ReadFile(chip.Path("orig.bin"));
    ASSERT_EQ(orig.size(), 4096u);

    Bytes brokenComplement = orig;
    brokenComplement[0] = 0xCC;  // level 2 without its complement
    WriteFile(chip.Path("broken.bin"), brokenComplement);
    WriteFile(chip.Path("short.bin"), Bytes(orig.begin(), orig.begin() + 47));
    WriteFile(chip.Path("empty.bin"), Bytes());

    struct Case {
        std::vector<std::string> commands;
        int exitCode;
        const char* line;
    };
    const Case cases[] = {
        {{"-usd", "--set", "--fn", chip.Path("broken.bin")}, 6, "Set user system data to device failed!\n"},
        {{"-usd", "--set", "--fn", chip.Path("short.bin")}, 6, "Set user system data to device failed!\n"},
        {{"-usd", "--set", "--fn", chip.Path("empty.bin")}, 6, "Set user system data to device failed!\n"},
        {{"-usd", "--set", "--fn", chip.Path("missing.bin")}, 6, "Set user system data to device failed!\n"},
        {{"-usd", "--set", "--fn", chip.Path("set.txt")}, 6, "bad parameter"},
        {{"-usd", "--set", "file.bin"}, 6, "bad parameter \"file.bin\"\n"},
        {{"-usd", "--get", "--fn", "relative.bin"}, 7, "bad parameter \"relative.bin\"\n"},
        {{"-usd", "--foo", "x"}, 1, "\n--foo\n"},
    };
    for (const Case& c : cases) {
        ProgramRun run = chip.Run(c.commands);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.commands.back() << "\n" << run.out;
        EXPECT_TRUE(Contains(run.out, c.line)) << run.out;
    }
    run = chip.Run({"-usd", "--get", "--fn", chip.Path("after.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(ReadFile(chip.Path("after.bin")), orig);
}


} // namespace
