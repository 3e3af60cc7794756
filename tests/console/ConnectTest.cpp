// The connect commands end to end: the program against the simulated chip.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "RecordingCom.h"
#include "RunProgram.h"
#include "SimProcess.h"
#include "device/Device.h"
#include "link/BootLoader.h"
#include "link/Com.h"
#include "link/ComManager.h"
#include "result/Result.h"

namespace {

const char kBanner[] =
    "------------------------------------------------------------\n"
    "Corvane ISP Programmer V3.0.14\n"
    "Support USART and DFU\n"
    "------------------------------------------------------------\n\n";
const char kCantOpen[] =
    "Cannot open the com port, the port not exist or may be used by another application\n";

// A fresh working folder without a Map/ of its own: the program then uses
// the catalogue installed beside it.
class WorkDir
{
public:
    WorkDir()
    {
        char pattern[] = "/tmp/tarnflash-console-XXXXXX";
        const char* made = mkdtemp(pattern);
        m_path = made != nullptr ? made : "/tmp";
    }
    ~WorkDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

ProgramRun RunIn(const WorkDir& dir, const std::vector<std::string>& args)
{
    return RunProgram(TARNFLASH_BINARY, args, dir.path(), 120);
}

std::string Identity(const char* connectLine, const std::string& name, int flashKB, const std::string& pid)
{
    return std::string(connectLine) + "\n" + "Device:  " + name + "    Flash:  " + std::to_string(flashKB) +
           " KB\n" + "PID:  " + pid + "      BID:  4602    Version:  3.1\n" +
           "Device connected Successfully\n\n";
}

struct Link {
    const char* simLink;
    const char* command;
    const char* connectLine;
};

const Link kLinks[] = {
    {"usart", "-com", "USART Connect......"},
    {"i2c", "-i2c", "I2C Connect......"},
#ifdef TARNFLASH_TEST_SPI
    {"spi", "-spi", "SPI Connect......"},
#endif
#ifdef TARNFLASH_TEST_CAN
    {"can", "-can", "CAN Connect......"},
#endif
};

TEST(ConsoleConnect, EveryLinkIdentifiesTheDefaultChip)
{
    WorkDir dir;
    for (const Link& link : kLinks) {
        kvtest::SimProcess sim;
        ASSERT_TRUE(sim.start({"--link", link.simLink})) << link.simLink;
        ProgramRun run = RunIn(dir, {link.command, "--pn", sim.portName()});
        EXPECT_EQ(run.exitCode, 0) << link.simLink;
        EXPECT_EQ(run.out, kBanner + Identity(link.connectLine, "KV32S04", 256, "70040241")) << link.simLink;
    }
}

TEST(ConsoleConnect, EveryFamilyOfTheCatalogue)
{
    struct Family { const char* device; const char* name; int flashKB; const char* pid; };
    const Family families[] = {
        {"70010101", "KV32S01", 64, "70010101"},
        {"700101C1", "KV32S01", 128, "700101C1"},
        {"KV32S04", "KV32S04", 256, "70040241"},
        {"KV32S05", "KV32S05", 128, "700501C1"},
        {"KV32S09", "KV32S09", 1024, "70090341"},
        {"KV32S13", "KV32S13", 4096, "700D0401"},
        {"KV32S15", "KV32S15", 1024, "700F0341"},
        {"KV32S21", "KV32S21", 256, "70150241"},
        {"KV32S25", "KV32S25", 512, "701902C1"},
        {"KV32S31", "KV32S31", 256, "701F0241"},
    };
    WorkDir dir;
    for (const Family& f : families) {
        kvtest::SimProcess sim;
        ASSERT_TRUE(sim.start({"--link", "i2c", "--device", f.device})) << f.device;
        ProgramRun run = RunIn(dir, {"-i2c", "--pn", sim.portName()});
        EXPECT_EQ(run.exitCode, 0) << f.device;
        EXPECT_EQ(run.out, kBanner + Identity("I2C Connect......", f.name, f.flashKB, f.pid)) << f.device;
    }
}

TEST(ConsoleConnect, FullPathSecondConnectAndCommandsAfter)
{
    // Parity NONE: a pseudo-terminal takes no parity setting once it has been
    // configured, so a line that is opened again in the same session runs
    // without one.
    WorkDir dir;
    kvtest::SimProcess sim;
    ASSERT_TRUE(sim.start({"--link", "usart"}));
    const std::string identity = Identity("USART Connect......", "KV32S04", 256, "70040241");
    // a second connect on the same port closes the first connection first;
    // the second one keeps the first one's serial settings
    ProgramRun run = RunIn(dir, {"-com", "--pn", sim.ptyPath(), "--pr", "none", "--to", "2", "-com", "--PN",
                                 sim.portName()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, kBanner + identity + identity);

    // a bad sector range ends the run before the chip is touched
    run = RunIn(dir, {"-com", "--pn", sim.portName(), "--pr", "NONE", "-e", "--sec", "3-1"});
    EXPECT_EQ(run.exitCode, 51);
    EXPECT_EQ(run.out, kBanner + identity + "bad parameter 3-1\n");
    // 128 sectors: 0-200 is out of range
    run = RunIn(dir, {"-com", "--pn", sim.portName(), "--pr", "NONE", "-e", "--sec", "0-200"});
    EXPECT_EQ(run.exitCode, 51);
    EXPECT_EQ(run.out, kBanner + identity + "bad parameter 0-200\n");
    // the walk meets "--br" after the connect: no command word, exit 1
    run = RunIn(dir, {"-com", "--pn", sim.portName(), "--pr", "NONE", "--br"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, kBanner + identity);
}

TEST(ConsoleConnect, OneTimeProtectionNeedsConfirmation)
{
    WorkDir dir;
    kvtest::SimProcess sim;
    ASSERT_TRUE(sim.start({"--link", "i2c", "--device", "KV32S15"}));
    ProgramRun run = RunIn(dir, {"-i2c", "--pn", sim.portName(), "-p", "--efap2"});
    EXPECT_EQ(run.exitCode, 33);
    EXPECT_EQ(run.out, kBanner + Identity("I2C Connect......", "KV32S15", 1024, "700F0341") +
                           "KV32S15/S18/S29/S16/S19/S20/S21/S22/S23/S30/S25/S26/S28/S31/S32 need a parameter "
                           "\"--y\" for operation \"--efap2\"!\n");
}

TEST(ConsoleConnect, BadSubOptionsAndMissingPorts)
{
    WorkDir dir;
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string printed;
    };
    const Case cases[] = {
        {{"-com", "--pn", "ttyNOSUCH7", "--xyz", "1"}, 2, "USART Connect......\nbad parameter \"--xyz\"\n"},
        {{"-com", "--to", "0"}, 2, "USART Connect......\nbad parameter \"0\"\n"},
        {{"-com", "--to", "121"}, 2, "USART Connect......\nbad parameter \"121\"\n"},
        {{"-com", "--auto", "13"}, 2, "USART Connect......\nbad parameter \"13\"\n"},
        {{"-com", "--pn", "ttyNOSUCH7"}, 2, std::string("USART Connect......\n") + kCantOpen},
        {{"-i2c", "--pn", "/dev/nosuch/tty3"}, 2, std::string("I2C Connect......\n") + kCantOpen},
        {{"-spi", "--pn", "/dev/null"}, 2, std::string("SPI Connect......\n") + kCantOpen},
        {{"-can"}, 2, std::string("CAN Connect......\n") + kCantOpen},
        {{"-dfu"}, 2, "DFU Connect......\nUnable to get DFU device\n"},
    };
    for (const Case& c : cases) {
        ProgramRun run = RunIn(dir, c.args);
        EXPECT_EQ(run.exitCode, c.code) << c.args[0] << " " << c.args.back();
        EXPECT_EQ(run.out, kBanner + c.printed) << c.args[0] << " " << c.args.back();
    }
}

TEST(ConsoleConnect, WhatTheChipAnswers)
{
    struct Case {
        std::vector<std::string> sim;
        std::vector<std::string> args;  // the port follows "--pn"
        int code;
        std::string printed;
    };
    const std::string s04 = "Device:  KV32S04    Flash:  256 KB\n";
    auto usart = [](std::vector<std::string> faults) {
        faults.insert(faults.begin(), {"--link", "usart"});
        return faults;
    };
    const std::string done = "Device connected Successfully\n\n";
    const Case cases[] = {
        // no BID from the version command: "NA" is printed
        {{"--link", "i2c", "--bid", "0"}, {"-i2c", "--pn"}, 0,
         "I2C Connect......\n" + s04 + "PID:  70040241      BID:  NA    Version:  3.1\n" + done},
        {{"--link", "usart", "--version", "25", "--bid", "4102"}, {"-com", "--pn"}, 0,
         "USART Connect......\n" + s04 + "PID:  70040241      BID:  4102    Version:  2.5\n" + done},
        // automatic boot entry: the lines are toggled, then the chip connects
        {{"--link", "usart"}, {"-com", "--auto", "3", "--pn"}, 0,
         "USART Connect......\n" + s04 + "PID:  70040241      BID:  4602    Version:  3.1\n" + done},
        // the identifier request is refused (every time it is sent)
        {usart(kvtest::refusedEveryTime(0x02)), {"-com", "--pn"}, 2,
         "USART Connect......\nInit Device Failed!\n"},
        // the command list request is refused, or never answered
        {usart(kvtest::refusedEveryTime(0x00)), {"-com", "--pn"}, 2,
         "USART Connect......\nUnrecognized device...Please, reset your device then try again \n"},
        // refused once: sent again, the chip connects
        {{"--link", "usart", "--fault", "nack:0x00"}, {"-com", "--pn"}, 0,
         "USART Connect......\n" + s04 + "PID:  70040241      BID:  4602    Version:  3.1\n" + done},
        {{"--link", "i2c", "--fault", "stall:0x00"}, {"-i2c", "--pn"}, 2,
         "I2C Connect......\nUnrecognized device...Please, reset your device then try again \n"},
        // the chip listens at another I2C address
        {{"--link", "i2c", "--i2c-address", "50"}, {"-i2c", "--pn"}, 2,
         "I2C Connect......\nUnrecognized device...Please, reset your device then try again \n"},
        {{"--link", "i2c", "--i2c-address", "50"}, {"-i2c", "--addr", "50", "--rate", "100000", "--pn"}, 0,
         "I2C Connect......\n" + s04 + "PID:  70040241      BID:  4602    Version:  3.1\n" + done},
    };
    WorkDir dir;
    for (const Case& c : cases) {
        kvtest::SimProcess sim;
        ASSERT_TRUE(sim.start(c.sim)) << c.sim.back();
        std::vector<std::string> args = c.args;
        args.push_back(sim.portName());
        ProgramRun run = RunIn(dir, args);
        EXPECT_EQ(run.exitCode, c.code) << c.sim.back();
        EXPECT_EQ(run.out, kBanner + c.printed) << c.sim.back();
    }
}

TEST(ConsoleConnect, SilentLineAndUnknownChip)
{
    WorkDir dir;
    // A terminal nobody answers on.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    ProgramRun run = RunIn(dir, {"-com", "--pn", slave});
    close(master);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, std::string(kBanner) + "USART Connect......\n"
                                              "Unrecognized device...Please, reset your device then try again \n");

    // A chip the working folder's catalogue does not know.
    ASSERT_EQ(std::system(("mkdir -p '" + dir.path() + "/Map'").c_str()), 0);
    FILE* f = std::fopen((dir.path() + "/Map/Other.KVmap").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("[Product]\nPID=70990241\nSerial=99\nName=Other\nSectorsPerSector=2\n[Sector0]\nSize=0x800\n", f);
    std::fclose(f);
    kvtest::SimProcess sim;
    ASSERT_TRUE(sim.start({"--link", "i2c"}));
    run = RunIn(dir, {"-i2c", "--pn", sim.portName()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, std::string(kBanner) + "I2C Connect......\nInit Device Failed!\n");
}

// One reading rule for every map file: a comment is a whole line, a value
// runs to the end of its line. A sector file that exists but cannot be read
// fails the connect; a missing one leaves a chip without sectors. A table
// that disagrees with the family file or with the chip's flash size would
// plan erases outside the image: refused. A ./Map that others can change is
// ignored for the catalogue beside the program.
TEST(ConsoleConnect, MapValuesRunToTheEndOfTheLine)
{
    const std::string sectors = "[Sector0]\nAddress=0x08000000\nSize=0x800\nCount=128\n";
    const std::string identity = "[Product]\nPID=70040241\nSerial=04\nName=KV32S04\n[Sector0]\nSize=0x800\n";
    const std::string table = "[Product]\nName=KV32S04_256K\nPacketSize=252\n";
    const std::string refused = "I2C Connect......\nInit Device Failed!\n";
    struct Case {
        const char* what;
        std::string identity;
        const char* sectorFile;  // null: none
        std::string sectorRuns;
        int code;
        std::string printed;
        const char* stderrHas;  // null: nothing
        mode_t worldWritable;   // 0, or the mode given to the folder / the family file
        bool onFile;
    };
    const std::string planted = "[Product]\nPID=70040241\nSerial=04\nName=Planted\n[Sector0]\nSize=0x800\n";
    const Case cases[] = {
        {"identifiers separated by ';'",
         "[Product]\nPID=11111111;70040241\nSerial=04\nName=KV32S04\n[Sector0]\nSize=0x800\n",
         "  ; blanks before a comment\n[Product]\nName=KV32S04_256K\n# another\nPacketSize=252\n", sectors, 0,
         Identity("I2C Connect......", "KV32S04", 256, "70040241"), nullptr, 0, false},
        {"a comment after a value is part of it", identity, "[Product]\nPacketSize=252 ; bytes per WRITE\n",
         sectors, 2, refused, nullptr, 0, false},
        {"no sector file", identity, nullptr, "", 0, Identity("I2C Connect......", "KV32S04", 256, "70040241"),
         nullptr, 0, false},
        {"family sector size 1 KB, table 2 KB", "[Product]\nPID=70040241\nSerial=04\nName=KV32S04\n[Sector0]\nSize=0x400\n",
         table.c_str(), sectors, 2, refused, "has a sector of 2048 bytes at 0x08000000, the family file gives 1024", 0,
         false},
        {"table of 128 KB for a 256 KB chip", identity, table.c_str(),
         "[Sector0]\nAddress=0x08000000\nSize=0x800\nCount=64\n", 2, refused, "the sectors end at 0x08020000", 0, false},
        {"table with a gap", identity, table.c_str(),
         "[Sector0]\nAddress=0x08000000\nSize=0x800\nCount=64\n[Sector1]\nAddress=0x08020800\nSize=0x800\nCount=64\n",
         2, refused, "does not follow the one before", 0, false},
        {"a world-writable Map folder", planted, table.c_str(), sectors, 0,
         Identity("I2C Connect......", "KV32S04", 256, "70040241"), "ignoring the device catalogue ./Map/", 0777,
         false},
        {"a world-writable map file", planted, table.c_str(), sectors, 0,
         Identity("I2C Connect......", "KV32S04", 256, "70040241"), "./Map/KV32S04.KVmap can be changed", 0666, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WorkDir dir;
        ASSERT_EQ(std::system(("mkdir -p '" + dir.path() + "/Map'").c_str()), 0);
        auto write = [&](const std::string& name, const std::string& text) {
            FILE* f = std::fopen((dir.path() + "/Map/" + name).c_str(), "w");
            ASSERT_NE(f, nullptr);
            std::fputs(text.c_str(), f);
            std::fclose(f);
        };
        write("KV32S04.KVmap", c.identity);
        if (c.sectorFile)
            write("KV32S04_256K.KVmap", c.sectorFile + c.sectorRuns);
        if (c.worldWritable != 0) {
            ASSERT_EQ(chmod((dir.path() + (c.onFile ? "/Map/KV32S04.KVmap" : "/Map")).c_str(), c.worldWritable), 0);
        }
        kvtest::SimProcess sim;
        ASSERT_TRUE(sim.start({"--link", "i2c"}));
        ProgramRun run = RunIn(dir, {"-i2c", "--pn", sim.portName()});
        EXPECT_EQ(run.exitCode, c.code);
        EXPECT_EQ(run.out, kBanner + c.printed);
        if (c.stderrHas) {
            EXPECT_NE(run.err.find(c.stderrHas), std::string::npos) << run.err;
        } else {
            EXPECT_EQ(run.err, "");
        }
    }
}

TEST(ConsoleConnect, LinkIdentityAndProtectionStatus)
{
    struct Case { const char* protect; bool enabled; };
    for (const Case& c : {Case{"0", false}, Case{"1", true}}) {
        kvtest::SimProcess sim;
        ASSERT_TRUE(sim.start({"--link", "i2c", "--device", "KV32S13", "--protect", c.protect}));
        CComManager manager;
        manager.SetInterfaceType(INTERFACE_I2C);
        CCom com(700, INTERFACE_I2C, sim.ptyPath().c_str());
        ASSERT_EQ(com.Open(), CResult::SUCCESS);
        ASSERT_EQ(com.SetComTimeOut(5000), CResult::SUCCESS);
        CBootLoader* link = com.GetBootLoader();
        ASSERT_NE(link, nullptr);
        ASSERT_EQ(link->Connect(), CResult::SUCCESS);
        EXPECT_TRUE(link->GetCommands()->READ_CMD);

        // before identification the status finds the flash-size register itself
        bool enabled = !c.enabled;
        EXPECT_EQ(link->GetAccessProtectiosStatus(&enabled), CResult::SUCCESS) << c.protect;
        EXPECT_EQ(enabled, c.enabled) << c.protect;
        EXPECT_EQ(link->GetAccessProtectiosStatus(nullptr), CResult::PROGRAM_INPUT_PARAMS_ERROR);

        std::string pid;
        BYTE series = 0;
        EXPECT_EQ(link->GetPID(pid, series), CResult::SUCCESS);
        EXPECT_EQ(pid, "700D0401");
        EXPECT_EQ(series, 0x0D);
        EXPECT_EQ(link->InitDevice(), CResult::SUCCESS);
        ASSERT_TRUE(link->HasInitDevice());
        EXPECT_EQ(link->GetDevice()->m_StrSerial, "0D");
        EXPECT_EQ(link->GetDevice()->m_IFlashSize, 4096);
        enabled = !c.enabled;
        EXPECT_EQ(link->GetAccessProtectiosStatus(&enabled), CResult::SUCCESS);
        EXPECT_EQ(enabled, c.enabled);

        unsigned char uid[CBootLoader::UID_LENGTH] = {};
        EXPECT_EQ(link->GetUID(nullptr), CResult::PROGRAM_INPUT_PARAMS_ERROR);
        if (!c.enabled) {
            EXPECT_EQ(link->GetUID(uid), CResult::SUCCESS);
            int size = 0;
            EXPECT_EQ(link->GetFlashSize(link->GetDevice()->m_UiFlashSizeAdd, size), CResult::SUCCESS);
            EXPECT_EQ(size, 4096);
        } else {
            // memory reads are refused while the chip is protected
            EXPECT_EQ(link->GetUID(uid), CResult::SYS_CMD_NOT_ALLOWED);
        }
        EXPECT_EQ(com.Close(), CResult::SUCCESS);
    }
}

// A chip that stops answering in the middle of a command cannot be reached by
// opening the port again (a real chip never sees that): with automatic boot
// entry the link resets it through the boot lines and connects again; a
// stalled chip stays silent, and the command fails within its time-out and
// the reconnect. Without automatic boot entry no line moves.
TEST(ConsoleConnect, AStalledChipIsResetThroughTheBootLines)
{
    for (const bool automatic : {true, false}) {
        SCOPED_TRACE(automatic ? "--auto 1" : "manual");
        kvtest::SimProcess sim;
        ASSERT_TRUE(sim.start({"--link", "usart", "--fault", "stall:0x11"}));
        CComManager manager;
        manager.SetInterfaceType(INTERFACE_USART);
        RecordingCom com(701, INTERFACE_USART, sim.ptyPath().c_str());
        ASSERT_EQ(com.Open(), CResult::SUCCESS);
        ASSERT_EQ(com.SetComTimeOut(1000), CResult::SUCCESS);
        com.SetBootSwitch(automatic ? AUTOMATIC : MANUAL);
        com.SetBootOptionIndex(1);  // DTR low level to reset
        CBootLoader* link = com.GetBootLoader();
        ASSERT_NE(link, nullptr);
        ASSERT_EQ(link->Connect(), CResult::SUCCESS);
        const std::vector<std::string> connect = automatic ? std::vector<std::string>{"DTR0", "DTR1"}
                                                           : std::vector<std::string>{};
        EXPECT_EQ(Lines(com.events), connect);

        BYTE bytes[8];
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(KVBL_READ(com.GetHandle(), 0x08000000, 8, bytes), READ_FAIL);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
        std::vector<std::string> expected = connect;
        expected.insert(expected.end(), connect.begin(), connect.end());  // the reset
        EXPECT_EQ(Lines(com.events), expected);
        EXPECT_EQ(com.Close(), CResult::SUCCESS);
    }
}

// A failure the line caused says so on standard error, beside the specified
// message on standard output.
TEST(ConsoleConnect, ALineFailureNamesCommandAddressAndCause)
{
    WorkDir dir;
    std::vector<std::string> simArgs = kvtest::refusedEveryTime(0x11, 1);
    simArgs.insert(simArgs.begin(), {"--link", "i2c"});
    kvtest::SimProcess sim;
    ASSERT_TRUE(sim.start(simArgs));
    ProgramRun run = RunIn(dir, {"-i2c", "--pn", sim.portName(), "-u", "--sec", "0-0", "--fn", dir.path() + "/up.bin"});
    EXPECT_EQ(run.exitCode, 4) << run.out;
    EXPECT_EQ(run.err, "Upload: READ at 0x08000000 failed: the chip refused it (NACK) (4 attempts)\n");
}

} // namespace
