// Whole command lines against the simulated chip: a bad line is refused
// before anything on the chip changes, commands carry their effects to the
// next, the production log, signals, ELF images.

#include "FlashOnSim.h"

#include <signal.h>

#include <cstdio>
#include <regex>

namespace {

class WholeLineOnSim : public FlashOnSim {};

// What jq makes of the log file (slurped into one array).
std::string Jq(const std::string& filter, const std::string& file)
{
    std::string out;
    FILE* p = popen(("jq -r -s '" + filter + "' '" + file + "' 2>&1").c_str(), "r");
    if (!p)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    pclose(p);
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// The simulator log's notes (no byte dumps), one a line, up to its own end.
std::vector<std::string> SimNotes(const std::string& file)
{
    std::vector<std::string> notes;
    const Bytes text = ReadFile(file);
    std::string line;
    for (unsigned char c : text) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (!Contains(line, "H>S") && !Contains(line, "S>H"))
            notes.push_back(line.substr(line.find_first_not_of(" 0123456789.")));
        line.clear();
    }
    if (!notes.empty() && notes.back() == "kv32sim stops")
        notes.pop_back();
    return notes;
}

// Each line here would once have erased or written the chip before meeting
// its fault; now each fails with its command's message and exit code, and
// the flash keeps every byte.
TEST_P(WholeLineOnSim, ABadLineIsRefusedBeforeAnythingIsErasedOrWritten)
{
    ASSERT_TRUE(StartSim());
    const Bytes old = RandomBytes(8 * 2048, 30);
    WriteFile(m_dir / "old.bin", old);
    ASSERT_EQ(Run({"-d", "--fn", "./old.bin"}).exitCode, 0);
    WriteFile(m_dir / "app.bin", RandomBytes(2048, 31));
    WriteFile(m_dir / "full.bin", RandomBytes(256 * 1024 + 4, 32));
    const std::string hex = ":020000040800F2\n:0400000001020304F2\n:0400040001020304FF\n:00000001FF\n";
    WriteFile(m_dir / "sum.hex", Bytes(hex.begin(), hex.end()));
    WriteFile(m_dir / "opts.bin", Bytes(48, 0x00));  // no value has its complement
    WriteFile(m_dir / "x.KVTP", Bytes(38, 0x00));
    struct Row {
        std::vector<std::string> commands;
        int exitCode;
        std::string text;
    };
    const Row rows[] = {
        {{"-e", "--all", "-d", "--fn", "./app.bin", "--verify"}, 3, "\nbad parameter \"--verify\"\n"},
        {{"-e", "--all", "-d", "--fn", "./missing.bin", "--v"}, 3,
         "\nError:  Please select download file! File Name is ./missing.bin\n"},
        {{"-e", "--all", "-d", "--fn", "app.bin", "--v"}, 3, "\nbad parameter \"app.bin\"\n"},
        {{"-e", "--sec", "0-1", "-d", "--fn", "./sum.hex"}, 3, "\nError:  Download file open failed!\n"},
        {{"-d", "--fn", "./app.bin", "-d", "--fn", "./full.bin"}, 3,
         "\nError:  The file download address or file size out of flash range!\n"},
        // the second download reuses the first one's file, too high up
        {{"-d", "--fn", "./app.bin", "-d", "--a", "0803FFF8"}, 3,
         "\nError:  The file download address or file size out of flash range!\n"},
        {{"-e", "--all", "-e", "--sec", "0-200"}, 51, "\nbad parameter 0-200\n"},
        {{"-e", "--all", "-u", "--fn", "./nodir/x.bin"}, 4, "\nCannot open temporary file!\n"},
        {{"-e", "--all", "-u", "--fn", "./x.elf"}, 4, "\nbad parameter \"./x.elf\"\n"},
        {{"-e", "--all", "-otp", "--fn", "./x.KVTP"}, 64,
         "\nSet OTP data to device\nrunning...\nThe device has no OTP area!\n"},
        {{"-d", "--fn", "./app.bin", "-usd", "--set", "--fn", "./opts.bin"}, 6,
         "\nSet user system data to device\nrunning...\nSet user system data to device failed!\n"},
        {{"-e", "--all", "-enspim", "--fs", "99"}, 8, "\nbad parameter \"99\"\n"},
        {{"-e", "--all", "-p", "--eepp", "0-999"}, 36, "\nbad parameter \"0-999\"\n"},
        {{"-e", "--all", "-x", "-d"}, 1, "\nbad parameter \"-x\"\n"},
        {{"-e", "--all", "--sn", "KV1"}, 1, "\nbad parameter \"--sn\"\n"},
        {{"-e", "--all", "-r", "junk", "-e"}, 12, "\nbad parameter \"junk\"\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.commands[0] + " ... " + row.commands.back());
        ProgramRun run = Run(row.commands);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.out;
        // Nothing ran: right after the identity comes the failure.
        EXPECT_TRUE(Contains(run.out, "Device connected Successfully\n" + row.text)) << run.out;
    }
    EXPECT_EQ(Flash(), Expect(256 * 1024, 0, old)) << "a refused line changed the chip";
}

// A good line prints what it always printed, and each command sees what
// the ones before it leave: the file an upload writes, the file and address
// an earlier download used, the external bank enabled.
TEST_P(WholeLineOnSim, CommandsCarryTheirEffectsToTheNext)
{
    ASSERT_TRUE(StartSim());
    const Bytes image = RandomBytes(3000, 33);
    WriteFile(m_dir / "app.bin", image);
    ProgramRun run = Run({"-d", "--fn", "./app.bin", "-u", "--sec", "0-1", "--fn", "./up.bin", "-e", "--sec",
                          "0-3", "-d", "--fn", "./up.bin", "--v", "-d", "--a", "08010000"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Device connected Successfully\n\nErase\n")) << run.out;
    EXPECT_EQ(Count(run.out, "Download successfully!"), 3) << run.out;
    Bytes expected = Expect(256 * 1024, 0x10000, ReadFile(m_dir / "up.bin"));
    std::copy(image.begin(), image.end(), expected.begin());
    std::fill(expected.begin() + 3000, expected.begin() + 4096, 0xFF);
    EXPECT_EQ(Flash(), expected);

    ASSERT_TRUE(StartSim());
    run = Run({"-enspim", "--fs", "1", "-d", "--fn", "./app.bin", "--a", "08400000", "--v"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
}

// One JSON object a line for every command, also for a failed one; a
// download and an upload of the same sector give the same checksum.
TEST_P(WholeLineOnSim, ProductionLogRecordsEveryCommand)
{
    ASSERT_TRUE(StartSim());
    WriteFile(m_dir / "app.bin", RandomBytes(2048, 34));
    const std::string log = m_dir / "line.jsonl";
    ProgramRun run = Run({"--log", "./line.jsonl", "-d", "--fn", "./app.bin", "-u", "--sec", "0-0", "--fn",
                          "./up.bin"});
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const std::string firstPort = m_sim.portName();  // the next run gets a new terminal
    run = Run({"-d", "--fn", "./missing.bin", "--log", "./line.jsonl"});
    ASSERT_EQ(run.exitCode, 3) << run.out;

    const std::string keys = R"(["time","interface","port","pid","uid","command","file","crc32",)"
                             R"("exit_code","message","seconds","bytes"])";
    EXPECT_EQ(Jq("length, all(.[]; keys_unsorted == " + keys + ")", log), "5\ntrue");
    EXPECT_EQ(Jq("[.[] | .command] | join(\" \")", log),
              std::string(GetParam().connect) + " -d -u " + GetParam().connect + " -d");
    EXPECT_EQ(Jq("[.[] | .exit_code] | join(\" \")", log), "0 0 0 0 3");
    EXPECT_EQ(Jq(".[0] | [.interface, .port, .pid, .file, .crc32, .bytes] | map(tostring) | join(\" \")", log),
              std::string(GetParam().link) + " " + firstPort + " 70040241 null null 0");
    EXPECT_EQ(Jq(".[1] | [.file, .message, .bytes] | map(tostring) | join(\"|\")", log),
              "./app.bin|Download successfully!|2048");
    EXPECT_EQ(Jq(".[2] | [.file, .message, .bytes] | map(tostring) | join(\"|\")", log),
              "./up.bin|Upload successfully!|2048");
    EXPECT_EQ(Jq(".[1].crc32 == .[2].crc32 and (.[1].crc32 | test(\"^[0-9a-f]{8}$\"))", log), "true");
    EXPECT_EQ(Jq(".[4] | [.file, .crc32, .message] | map(tostring) | join(\"|\")", log),
              "./missing.bin|null|Error:  Please select download file! File Name is ./missing.bin");
    EXPECT_TRUE(std::regex_match(Jq(".[3].time", log),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")));
    EXPECT_TRUE(std::regex_match(Jq(".[3].uid", log), std::regex("[0-9A-F]{24}")));
    EXPECT_EQ(Jq("all(.[]; .seconds >= 0)", log), "true");

    // A log that cannot be written: nothing is done at all.
    run = Run({"-e", "--all", "--log", "./nodir/line.jsonl"});
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_TRUE(Contains(run.out, "Cannot open the log file ./nodir/line.jsonl: ")) << run.out;
    EXPECT_FALSE(Contains(run.out, "Connect......")) << run.out;
}

// A signal stops a download between blocks and lets a protection step end;
// the port is closed, the exit code tells the signal, the log records it.
TEST_P(WholeLineOnSim, SignalsEndTheRunAtASafePoint)
{
    ASSERT_TRUE(StartSim({"--baud", "115200", "--log", m_dir / "sim.log"}));
    WriteFile(m_dir / "app.bin", RandomBytes(32 * 1024, 35));
    ProgramRun run = Run({"-d", "--fn", "./app.bin", "--log", "./line.jsonl"}, 60,
                         SignalWhen{"Download\n", SIGINT});
    EXPECT_EQ(run.exitCode, 130) << run.out;
    EXPECT_LT(run.secondsAfterSignal, 3.0);
    EXPECT_TRUE(Contains(run.out, "\nOperation has been canceled!\nInterrupted by SIGINT.\n")) << run.out;
    EXPECT_FALSE(Contains(run.out, "Download successfully!")) << run.out;
    EXPECT_EQ(Jq(".[-1] | [.exit_code, .message] | map(tostring) | join(\"|\")", m_dir / "line.jsonl"),
              "130|Interrupted by SIGINT.");
    m_sim.stop();
    std::vector<std::string> notes = SimNotes(m_dir / "sim.log");
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back(), "host closed the terminal");

    ASSERT_TRUE(StartSim({"--log", m_dir / "sim.log"}));
    run = Run({"-p", "--eepp", "0-3", "-d", "--fn", "./app.bin"}, 60,
              SignalWhen{"Enable erase and program protection\n", SIGTERM});
    EXPECT_EQ(run.exitCode, 143) << run.out;
    EXPECT_TRUE(Contains(run.out, "Enable erase and program protection successfully!\nInterrupted by SIGTERM.\n"))
        << run.out;
    EXPECT_FALSE(Contains(run.out, "Download")) << run.out;
    m_sim.stop();
    // The protection command, the chip's reset, the reconnect that reads the
    // option bytes back: the whole sequence, then the port closed.
    notes = SimNotes(m_dir / "sim.log");
    const auto protect = std::find(notes.begin(), notes.end(), "command 63 ERASEPROGRAM_PROTECT");
    ASSERT_NE(protect, notes.end());
    const auto reopened = std::find(protect, notes.end(), "host opened the terminal");
    ASSERT_NE(reopened, notes.end());
    EXPECT_NE(std::find(reopened, notes.end(), "READ 48 byte(s) at 1FFFF800"), notes.end());
    EXPECT_EQ(notes.back(), "host closed the terminal");
}

// An ELF image's loadable segments land at their physical addresses, as
// objcopy places them (a data section loaded from flash, an uninitialised
// one not at all).
TEST_P(WholeLineOnSim, ElfImageLandsWhereObjcopyPlacesIt)
{
    ASSERT_TRUE(StartSim());
    WriteFile(m_dir / "a.bin", RandomBytes(3000, 36));
    WriteFile(m_dir / "b.bin", RandomBytes(1500, 37));
    const std::string script = "PHDRS { text PT_LOAD; data PT_LOAD; }\n"
                               "SECTIONS {\n  . = 0x08000400;\n  .text : { a.o(.text) } :text\n"
                               "  .data 0x20000000 : AT(0x08001800) { b.o(.rodata2) } :data\n"
                               "  .bss (NOLOAD) : { . += 0x100; } :data\n}\n";
    WriteFile(m_dir / "link.ld", Bytes(script.begin(), script.end()));
    const std::string cd = "cd '" + m_dir.path() + "' && ";
    ASSERT_TRUE(Shell(cd + "objcopy -I binary -O elf32-i386 --rename-section .data=.text,alloc,load,contents "
                           "a.bin a.o && objcopy -I binary -O elf32-i386 "
                           "--rename-section .data=.rodata2,alloc,load,contents b.bin b.o && "
                           "ld -m elf_i386 -T link.ld -o app.elf a.o b.o && "
                           "objcopy -O binary --gap-fill 0xFF app.elf flat.bin"));
    ProgramRun run = Run({"-d", "--fn", "./app.elf", "--v"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(Flash(), Expect(256 * 1024, 0x400, ReadFile(m_dir / "flat.bin")));
}

INSTANTIATE_TEST_SUITE_P(Links, WholeLineOnSim,
                         ::testing::Values(LinkFlavour{"usart", "-com"}, LinkFlavour{"i2c", "-i2c"}),
                         LinkName);

}  // namespace
