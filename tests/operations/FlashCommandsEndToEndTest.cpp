// The flash commands of the program against the simulated chip: what they
// print, their exit codes, and what the chip's flash holds afterwards.

#include "FlashOnSim.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Files in the scratch folder other than the given ones.
std::vector<std::string> OtherFiles(const std::string& folder, const std::vector<std::string>& known)
{
    std::vector<std::string> out;
    FILE* list = popen(("ls -A '" + folder + "'").c_str(), "r");
    if (!list)
        return out;
    char line[512];
    while (std::fgets(line, sizeof line, list)) {
        std::string name(line);
        if (!name.empty() && name.back() == '\n')
            name.pop_back();
        if (std::find(known.begin(), known.end(), name) == known.end())
            out.push_back(name);
    }
    pclose(list);
    return out;
}

TEST_P(FlashOnSim, DownloadHexAndSrecWithAndWithoutOptimise)
{
    ASSERT_TRUE(StartSim());
    Bytes image = RandomBytes(9000, 2);
    std::fill(image.begin() + 2048, image.begin() + 6144, 0xFF);  // blank run: optimise skips it
    WriteFile(m_dir / "raw.bin", image);
    ASSERT_TRUE(Shell("objcopy -I binary -O ihex --change-addresses 0x08000800 '" + (m_dir / "raw.bin") +
                      "' '" + (m_dir / "app.hex") + "'"));
    ASSERT_TRUE(Shell("objcopy -I binary -O srec --change-addresses 0x08004000 '" +
                      (m_dir / "raw.bin") + "' '" + (m_dir / "app.s19") + "'"));
    ProgramRun run = Run({"-d", "--fn", m_dir / "app.hex", "--v", "-d", "--fn", m_dir / "app.s19",
                          "--o"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    Bytes expected = Expect(256 * 1024, 0x800, image);
    std::copy(image.begin(), image.end(), expected.begin() + 0x4000);
    EXPECT_EQ(Flash(), expected);
}

// A binary's byte at file offset k lands at the address + k, whatever "--o"
// leaves out: a blank first sector and a blank run inside, on 2 KB and 4 KB
// sectors, at the default address and above it.
TEST_P(FlashOnSim, BinaryLandsWhereTheFileSaysWithAndWithoutOptimise)
{
    Bytes image(4096, 0xFF);
    const Bytes a = RandomBytes(3000, 20), b = RandomBytes(1500, 21);
    image.insert(image.end(), a.begin(), a.end());
    image.insert(image.end(), 8192, 0xFF);
    image.insert(image.end(), b.begin(), b.end());
    WriteFile(m_dir / "ffhead.bin", image);
    struct Case {
        const char* device;
        size_t flashKB;
        const char* address;  // null: the default
        uint32_t offset;
        bool optimise;
    };
    const Case cases[] = {
        {"KV32S04", 256, nullptr, 0, true},          {"KV32S04", 256, "08001000", 0x1000, true},
        {"KV32S04", 256, "08001000", 0x1000, false}, {"KV32S13", 4096, nullptr, 0, true},
        {"KV32S13", 4096, "08002800", 0x2800, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + (c.address ? c.address : "default") +
                     (c.optimise ? " --o" : ""));
        m_device = c.device;
        std::remove((m_dir / "chip.state").c_str());
        ASSERT_TRUE(StartSim());
        std::vector<std::string> commands = {"-d", "--fn", m_dir / "ffhead.bin", "--v"};
        if (c.address)
            commands.insert(commands.end(), {"--a", c.address});
        if (c.optimise)
            commands.push_back("--o");
        ProgramRun run = Run(commands);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(Flash(), Expect(c.flashKB * 1024, c.offset, image));
    }
}

// "--o" only saves sending blank packets: afterwards the chip equals the file
// over every byte the file covers, and what the file leaves out in the
// sectors it touches is blank, with or without it.
TEST_P(FlashOnSim, NoOldDataStaysInTheSectorsTheImageCovers)
{
    const Bytes old(4 * 2048, 0x00);
    WriteFile(m_dir / "old.bin", old);
    Bytes gap = RandomBytes(2048, 22);
    gap.insert(gap.end(), 2048, 0xFF);  // a whole blank sector between data
    const Bytes tail = RandomBytes(1000, 23);
    gap.insert(gap.end(), tail.begin(), tail.end());
    WriteFile(m_dir / "gap.bin", gap);
    ASSERT_TRUE(Shell("objcopy -I binary -O ihex --change-addresses 0x08000800 '" + (m_dir / "gap.bin") +
                      "' '" + (m_dir / "gap.hex") + "'"));
    const Bytes blank(3000, 0xFF);  // nothing left to send, its sectors erased all the same
    WriteFile(m_dir / "blank.bin", blank);
    struct Case {
        const char* file;
        const Bytes& data;
        size_t offset;
        bool optimise;
    };
    for (const Case& c : {Case{"gap.bin", gap, 0, true}, Case{"gap.bin", gap, 0, false},
                          Case{"gap.hex", gap, 0x800, true}, Case{"blank.bin", blank, 0, true}}) {
        SCOPED_TRACE(std::string(c.file) + (c.optimise ? " --o" : ""));
        m_device.clear();
        std::remove((m_dir / "chip.state").c_str());
        ASSERT_TRUE(StartSim());
        ASSERT_EQ(Run({"-d", "--fn", m_dir / "old.bin"}).exitCode, 0);
        std::vector<std::string> commands = {"-d", "--fn", m_dir / c.file, "--v"};
        if (c.optimise)
            commands.push_back("--o");
        ProgramRun run = Run(commands);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        Bytes expected = Expect(256 * 1024, 0, old);
        const size_t first = c.offset / 2048 * 2048, end = (c.offset + c.data.size() + 2047) / 2048 * 2048;
        std::fill(expected.begin() + long(first), expected.begin() + long(end), 0xFF);
        std::copy(c.data.begin(), c.data.end(), expected.begin() + long(c.offset));
        EXPECT_EQ(Flash(), expected);
    }
}

// Uploaded files are made as the user's umask says (a replaced file keeps
// its permissions), through a temporary file nobody can predict: names
// that another user prepared in the folder do not stop the upload.
TEST_P(FlashOnSim, UploadRoundTripInEachFormat)
{
    ASSERT_TRUE(StartSim());
    const Bytes image = RandomBytes(3 * 2048, 3);
    WriteFile(m_dir / "app.bin", image);
    WriteFile(m_dir / "up.s19", Bytes(10, 'x'));
    ASSERT_EQ(chmod((m_dir / "up.s19").c_str(), 0640), 0);
    const mode_t umaskBefore = umask(077);
    ProgramRun run = Run({"-d", "--fn", m_dir / "app.bin", "--v",
                          "-u", "--sec", "0-2", "--fn", m_dir / "up.bin",
                          "-u", "--sec", "1-1", "--sec", "0-0", "--fn", m_dir / "up.hex",
                          "-u", "--sec", "0-2", "--fn", m_dir / "up.s19",
                          // without a value "--sec" reads sector 0
                          "-u", "--sec", "--fn", m_dir / "first.bin", "-u", "--fn", m_dir / "last.bin", "--sec"},
                         120, SignalWhen(), "mkdir .tarnflash-$$-up.bin .tarnflash-$$-up.hex");
    umask(umaskBefore);
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Upload successfully!")) << run.out;
    EXPECT_EQ(ReadFile(m_dir / "up.bin"), image);
    const struct {
        const char* name;
        mode_t mode;
    } modes[] = {{"up.bin", 0600}, {"up.hex", 0600}, {"up.s19", 0640}, {"first.bin", 0600}};
    for (const auto& m : modes) {
        struct stat st;
        ASSERT_EQ(stat((m_dir / m.name).c_str(), &st), 0) << m.name;
        EXPECT_EQ(st.st_mode & 07777, m.mode) << m.name;
    }
    // Nothing but the uploads and the two prepared folders is left.
    const std::vector<std::string> others = OtherFiles(
        m_dir.path(), {"app.bin", "chip.state", "flash.dump", "up.bin", "up.hex", "up.s19", "first.bin", "last.bin"});
    EXPECT_EQ(others.size(), 2u);
    for (const std::string& name : others)
        EXPECT_EQ(name.rfind(".tarnflash-", 0), 0u) << name;
    for (const char* name : {"first.bin", "last.bin"})
        EXPECT_EQ(ReadFile(m_dir / name), Bytes(image.begin(), image.begin() + 2048)) << name;
    // Sectors given out of order and repeated come back sorted, once each.
    ASSERT_TRUE(Shell("objcopy -I ihex -O binary '" + (m_dir / "up.hex") + "' '" +
                      (m_dir / "hex.bin") + "'"));
    EXPECT_EQ(ReadFile(m_dir / "hex.bin"), Bytes(image.begin(), image.begin() + 4096));
    ASSERT_TRUE(Shell("objcopy -I srec -O binary '" + (m_dir / "up.s19") + "' '" +
                      (m_dir / "srec.bin") + "'"));
    EXPECT_EQ(ReadFile(m_dir / "srec.bin"), image);
}

TEST_P(FlashOnSim, EraseAllThenSectorsThenRun)
{
    ASSERT_TRUE(StartSim());
    const Bytes image = RandomBytes(8 * 2048, 4);
    WriteFile(m_dir / "app.bin", image);
    ProgramRun run = Run({"-d", "--fn", m_dir / "app.bin", "-e", "--sec", "2-3"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Erase\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Erase successfully!")) << run.out;
    Bytes flash = Flash();
    Bytes expected = Expect(flash.size(), 0, image);
    std::fill(expected.begin() + 2 * 2048, expected.begin() + 4 * 2048, 0xFF);
    EXPECT_EQ(flash, expected);

    ASSERT_TRUE(StartSim());
    run = Run({"-e", "--all", "-r"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Your code is running... (0x08000000)")) << run.out;
    EXPECT_EQ(Flash(), Erased(256 * 1024));
}

TEST_P(FlashOnSim, OnlyAMassEraseLetsTheDownloadSkipItsOwnErase)
{
    ASSERT_TRUE(StartSim());
    WriteFile(m_dir / "old.bin", Bytes(4096, 0x00));
    ASSERT_EQ(Run({"-d", "--fn", m_dir / "old.bin"}).exitCode, 0);
    const Bytes image = RandomBytes(4096, 5);
    WriteFile(m_dir / "app.bin", image);

    // A sector erase elsewhere, or a bare "-e": the download erases its own
    // sectors (the chip refuses to write on un-erased flash).
    struct EraseFirst {
        std::vector<std::string> commands;
        int eraseOperations;  // the command's own and the download's
    };
    for (const EraseFirst& first : {EraseFirst{{"-e", "--sec", "5-5"}, 2}, EraseFirst{{"-e"}, 1}}) {
        std::vector<std::string> commands = first.commands;
        commands.insert(commands.end(), {"-d", "--fn", m_dir / "app.bin", "--v"});
        ProgramRun run = Run(commands);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(Count(run.out, "Erase\n"), first.eraseOperations) << run.out;
        EXPECT_EQ(Flash(), Expect(256 * 1024, 0, image));
        ASSERT_TRUE(StartSim());
        ASSERT_EQ(Run({"-d", "--fn", m_dir / "old.bin"}).exitCode, 0);
    }

    // After a mass erase the download writes at once.
    ProgramRun run = Run({"-e", "--all", "-d", "--fn", m_dir / "app.bin", "--v"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(Count(run.out, "Erase\n"), 1) << run.out;
    EXPECT_TRUE(Contains(run.out, "Erase successfully!\nDownload\n")) << run.out;
    EXPECT_EQ(Flash(), Expect(256 * 1024, 0, image));
}

TEST_P(FlashOnSim, BadRequestsGiveTheirTextAndExitCode)
{
    ASSERT_TRUE(StartSim());
    WriteFile(m_dir / "app.bin", Bytes(16, 0x11));
    WriteFile(m_dir / "full.bin", RandomBytes(256 * 1024 + 1, 6));
    WriteFile(m_dir / "bad.hex", Bytes{':', '1', '0', 'Z', '\n'});
    // A checksum error on the third line, and an S-record file cut short.
    const std::string hexLines = ":020000040800F2\n:0400000001020304F2\n:0400040001020304FF\n:00000001FF\n";
    WriteFile(m_dir / "sum.hex", Bytes(hexLines.begin(), hexLines.end()));
    const std::string srecLines = "S00600004844521B\nS3090800000001020304E4\n";
    WriteFile(m_dir / "cut.s19", Bytes(srecLines.begin(), srecLines.end()));
    // Data below the flash, across its end and in the external bank's window,
    // and a binary far too large to read: refused at once by where it lies.
    WriteFile(m_dir / "part.bin", RandomBytes(512, 7));
    const struct {
        const char *address, *format, *name;
    } placed[] = {{"0x07FFFF00", "ihex", "below.hex"}, {"0x0803FF00", "srec", "straddle.s19"},
                  {"0x08400000", "srec", "bank.srec"}};
    for (const auto& p : placed)
        ASSERT_TRUE(Shell(std::string("objcopy -I binary -O ") + p.format + " --change-addresses " + p.address +
                          " '" + (m_dir / "part.bin") + "' '" + (m_dir / p.name) + "'"));
    ASSERT_TRUE(Shell("truncate -s 1G '" + (m_dir / "huge.bin") + "'"));
    struct Row {
        std::vector<std::string> commands;
        int exitCode;
        std::string text;
        std::string error = std::string();  // on standard error
    };
    const Row rows[] = {
        {{"-e", "--sec", "3-1"}, 51, "bad parameter 3-1"},
        {{"-e", "--sec", "0-200"}, 51, "bad parameter 0-200"},
        {{"-e", "--sec"}, 51, "bad parameter"},
        {{"-d", "--fn", "app.bin"}, 3, "bad parameter"},
        {{"-d", "--fn", m_dir / "missing.bin"}, 3,
         "Error:  Please select download file! File Name is " + (m_dir / "missing.bin")},
        {{"-d", "--fn", m_dir / "full.bin"}, 3,
         "Error:  The file download address or file size out of flash range!"},
        {{"-d", "--fn", m_dir / "app.bin", "--addr", "07FFFFF0"}, 3,
         "Error:  The file download address or file size out of flash range!"},
        {{"-d", "--fn", m_dir / "app.bin", "--a", "0803FFF8"}, 3,
         "Error:  The file download address or file size out of flash range!"},
        {{"-d", "--fn", m_dir / "app.bin", "--addr", "08400000"}, 3,
         "Error:  No operation can be performed without using SPIM!"},
        {{"-d", "--fn", m_dir / "bad.hex"}, 3, "Error:  Download file open failed!",
         "bad.hex: line 1: an odd number of hexadecimal digits"},
        {{"-d", "--fn", "./sum.hex"}, 3, "Error:  Download file open failed!",
         "./sum.hex: line 3: checksum error"},
        {{"-d", "--fn", "./cut.s19"}, 3, "Error:  Download file open failed!",
         "./cut.s19: no end record (S7, S8 or S9): the file is cut short"},
        {{"-d", "--fn", m_dir / "below.hex"}, 3,
         "Error:  The file download address or file size out of flash range!"},
        {{"-d", "--fn", m_dir / "straddle.s19"}, 3,
         "Error:  The file download address or file size out of flash range!"},
        {{"-d", "--fn", m_dir / "bank.srec"}, 3, "Error:  No operation can be performed without using SPIM!"},
        {{"-d", "--fn", m_dir / "huge.bin"}, 3,
         "Error:  The file download address or file size out of flash range!"},
        {{"-u", "--sec", "0-1"}, 4, "Upload file name error."},
        {{"-u", "--sec", "9-2", "--fn", m_dir / "u.bin"}, 4, "bad parameter"},
    };
    for (const Row& row : rows) {
        const auto start = std::chrono::steady_clock::now();
        ProgramRun run = Run(row.commands);
        // A refusal comes at once: only a file that cannot be opened is
        // tried again, ten times a second apart (10 s, the bound's reason).
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8)) << row.text;
        EXPECT_EQ(run.exitCode, row.exitCode) << row.commands[0] << " " << run.out;
        EXPECT_TRUE(Contains(run.out, row.text)) << row.text << "\n" << run.out;
        EXPECT_TRUE(Contains(run.err, row.error)) << row.error << "\n" << run.err;
        EXPECT_FALSE(Contains(run.out, "successfully")) << run.out;
    }
    EXPECT_EQ(Flash(), Erased(256 * 1024)) << "no bad request may touch the chip";
}


TEST_P(FlashOnSim, ReadProtectedChipFailsEveryFlashCommand)
{
    ASSERT_TRUE(StartSim({"--protect", "1"}));
    WriteFile(m_dir / "app.bin", RandomBytes(2048, 10));
    ProgramRun run = Run({"-r", "--a", "08000100"});
    EXPECT_EQ(run.exitCode, 12) << run.out;
    // The running line is printed whatever the jump's result.
    EXPECT_TRUE(Contains(run.out, "Your code is running... (0x08000100)")) << run.out;

    run = Run({"-u", "--fn", m_dir / "up.bin"});
    EXPECT_EQ(run.exitCode, 4) << run.out;
    EXPECT_FALSE(Contains(run.out, "Upload successfully!")) << run.out;

    run = Run({"-d", "--fn", m_dir / "app.bin", "--v"});
    EXPECT_EQ(run.exitCode, 3) << run.out;
    EXPECT_FALSE(Contains(run.out, "Download successfully!")) << run.out;
    // No file under the upload's name, and no temporary left behind.
    EXPECT_EQ(OtherFiles(m_dir.path(), {"app.bin", "chip.state", "flash.dump"}),
              std::vector<std::string>());
}

TEST_P(FlashOnSim, UploadInterruptedByTheChipLeavesNoFile)
{
    const Bytes old = RandomBytes(100, 11);
    WriteFile(m_dir / "up.bin", old);
    ASSERT_TRUE(StartSim(kvtest::refusedEveryTime(0x11, 20)));
    ProgramRun run = Run({"-u", "--sec", "0-3", "--fn", m_dir / "up.bin"});
    EXPECT_EQ(run.exitCode, 4) << run.out;
    // The user's file is neither truncated nor replaced.
    EXPECT_EQ(ReadFile(m_dir / "up.bin"), old);
    EXPECT_EQ(OtherFiles(m_dir.path(), {"up.bin", "chip.state", "flash.dump"}),
              std::vector<std::string>());
}

TEST_P(FlashOnSim, ExternalBankDownloadUploadAndRange)
{
    ASSERT_TRUE(StartSim());
    const Bytes image = RandomBytes(6000, 13);
    WriteFile(m_dir / "spim.bin", image);
    // Sectors of the external bank are numbered from 32768 (0x8000).
    ProgramRun run = Run({"-enspim", "--fs", "1", "-d", "--fn", m_dir / "spim.bin", "--addr",
                          "08400000", "--v", "-u", "--sec", "32768-32769", "--fn",
                          m_dir / "up.bin"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    Bytes up = ReadFile(m_dir / "up.bin");
    ASSERT_EQ(up.size(), 8192u);
    EXPECT_EQ(Bytes(up.begin(), up.begin() + 6000), image);
    EXPECT_EQ(Bytes(up.begin() + 6000, up.end()), Erased(8192 - 6000));

    // One byte past the 1 MB bank, and a range beyond the bank's sectors.
    run = Run({"-enspim", "--fs", "1", "-d", "--fn", m_dir / "spim.bin", "--addr", "084FF000"});
    EXPECT_EQ(run.exitCode, 3) << run.out;
    EXPECT_TRUE(Contains(run.out,
                         "Error:  The file download address or file size out of SPIM range!"))
        << run.out;
    run = Run({"-enspim", "--fs", "1", "-e", "--sec", "32768-33024"});
    EXPECT_EQ(run.exitCode, 51) << run.out;
    EXPECT_TRUE(Contains(run.out, "bad parameter 32768-33024")) << run.out;
}

// Other families: 1 KB sectors with the reset and reconnect after each file,
// two banks, and 64 KB blocks (the download's erase then mixes block and
// sector erases).
TEST_P(FlashOnSim, FamiliesDownloadVerifyAndMassErase)
{
    struct Family {
        const char* device;
        size_t flashKB;
        uint32_t offset;  // from the flash base
        size_t length;
    };
    const Family families[] = {
        {"70010101", 64, 0x0C00, 0x1500},      // KV32S01: 1 KB sectors, reset after writing
        {"KV32S05", 128, 0x0C00, 0x1500},      // unaligned start and end
        {"KV32S09", 1024, 0x80400, 0x3000},    // second bank
        {"KV32S13", 4096, 0xF000, 0x12345},    // loose sector, a whole block, loose sectors
    };
    for (const Family& f : families) {
        SCOPED_TRACE(f.device);
        m_device = f.device;
        std::remove((m_dir / "chip.state").c_str());
        ASSERT_TRUE(StartSim());
        const Bytes image = RandomBytes(f.length, 9);
        WriteFile(m_dir / "app.bin", image);
        char address[16];
        std::snprintf(address, sizeof address, "%08X", kFlashBase + f.offset);
        ProgramRun run = Run({"-d", "--fn", m_dir / "app.bin", "--addr", address, "--v"});
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(Flash(), Expect(f.flashKB * 1024, f.offset, image));

        ASSERT_TRUE(StartSim());
        run = Run({"-e", "--all"});
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(Flash(), Erased(f.flashKB * 1024));
    }
}

// The other bridges. Over CAN a block erase carries no address, so the
// download erases a 64 KB-block chip sector by sector there.
class OtherBridges : public FlashOnSim {};

TEST_P(OtherBridges, BlockChipDownloadWithVerifyAndUpload)
{
    m_device = "KV32S13";
    ASSERT_TRUE(StartSim());
    const Bytes image = RandomBytes(0x12345, 12);
    WriteFile(m_dir / "app.bin", image);
    ProgramRun run = Run({"-d", "--fn", m_dir / "app.bin", "--addr", "0800F000", "--v",
                          "-u", "--sec", "15-33", "--fn", m_dir / "up.bin"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    Bytes flash = Flash();
    EXPECT_EQ(flash, Expect(4096 * 1024, 0xF000, image));
    Bytes up = ReadFile(m_dir / "up.bin");
    ASSERT_EQ(up.size(), 19u * 4096);
    EXPECT_EQ(up, Bytes(flash.begin() + 0xF000, flash.begin() + 0xF000 + 19 * 4096));
}

// A chip that refuses a write, stops answering, or whose answers are
// corrupted on the line: one fault is ridden through, with the image in
// flash; a chip that goes on refusing or stops answering fails the download.
// Success is never reported over a wrong flash.
enum class Outcome { Succeeds, Fails, Either };

struct FaultCase {
    const char* name;
    std::vector<std::string> faults;
    Outcome outcome;
};

class FaultsOnSim : public FlashOnSim {};

TEST_P(FaultsOnSim, NeverSilentCorruption)
{
    const FaultCase cases[] = {
        {"WriteRefusedOnce", {"--fault", "nack:0x31:3"}, Outcome::Succeeds},
        {"WriteRefusedEveryTime", kvtest::refusedEveryTime(0x31, 3), Outcome::Fails},
        // READs before the verify: two option-byte reads for the protection
        // checks and the read-back of the image's last partial packet.
        {"ReadRefusedOnceDuringVerify", {"--fault", "nack:0x11:6"}, Outcome::Succeeds},
        {"ChipStallsOnWrite", {"--fault", "stall:0x31:2"}, Outcome::Fails},
        {"DroppedByte", {"--fault", "drop:40"}, Outcome::Succeeds},
        {"FlippedByte", {"--fault", "flip:60:0x10"}, Outcome::Succeeds},
        {"NoisyLine", {"--fault", "random:7:0.002"}, Outcome::Either},
    };
    const Bytes image = RandomBytes(6000, 8);
    WriteFile(m_dir / "app.bin", image);
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove((m_dir / "chip.state").c_str());
        ASSERT_TRUE(StartSim(c.faults));
        ProgramRun run = Run({"-d", "--fn", m_dir / "app.bin", "--v"}, 180);
        Bytes flash = Flash();
        if (c.outcome == Outcome::Fails) {
            EXPECT_EQ(run.exitCode, 3) << run.out;
        } else if (c.outcome == Outcome::Succeeds) {
            EXPECT_EQ(run.exitCode, 0) << run.out;
        }
        if (run.exitCode == 0) {
            EXPECT_TRUE(Contains(run.out, "Download successfully!"));
            EXPECT_EQ(flash, Expect(256 * 1024, 0, image));
        } else {
            EXPECT_FALSE(Contains(run.out, "Download successfully!")) << run.out;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Links, FlashOnSim,
                         ::testing::Values(LinkFlavour{"usart", "-com"}, LinkFlavour{"i2c", "-i2c"}),
                         [](const ::testing::TestParamInfo<LinkFlavour>& info) {
                             return std::string(info.param.link);
                         });
INSTANTIATE_TEST_SUITE_P(Links, OtherBridges,
                         ::testing::Values(LinkFlavour{"can", "-can"}, LinkFlavour{"spi", "-spi"}),
                         [](const ::testing::TestParamInfo<LinkFlavour>& info) {
                             return std::string(info.param.link);
                         });
INSTANTIATE_TEST_SUITE_P(Links, FaultsOnSim,
                         ::testing::Values(LinkFlavour{"usart", "-com"}, LinkFlavour{"i2c", "-i2c"}),
                         [](const ::testing::TestParamInfo<LinkFlavour>& info) {
                             return std::string(info.param.link);
                         });

}  // namespace
