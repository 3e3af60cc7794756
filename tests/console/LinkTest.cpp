// Identification arithmetic of the link and the boot-line sequences of the
// connection, without a chip.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "link/BootLoader.h"
#include "link/Com.h"
#include "link/ComManager.h"
#include "RecordingCom.h"

namespace {

TEST(ConsoleLink, FlashSizeFromProductId)
{
    const int expected[23] = {16,  24,  32,  48,  64,   72,   96,   128,  192,  256,  384, 512,
                              768, 1024, 1536, 2048, 4096, 5120, 192, 960, 1984, 4032, 448};
    for (unsigned code = 0; code < 32; ++code) {
        // only bits 6-10 count
        const unsigned value = 0x70000000u | (code << 6) | 0x3Fu | 0x800u;
        EXPECT_EQ(CBootLoader::KV32GetFlashSize(value), code <= 22 ? expected[code] : 0) << code;
    }
    // the catalogue's identifiers
    EXPECT_EQ(CBootLoader::KV32GetFlashSize(0x70040241), 256);
    EXPECT_EQ(CBootLoader::KV32GetFlashSize(0x70010101), 64);
    EXPECT_EQ(CBootLoader::KV32GetFlashSize(0x700101C1), 128);
    EXPECT_EQ(CBootLoader::KV32GetFlashSize(0x70090341), 1024);
    EXPECT_EQ(CBootLoader::KV32GetFlashSize(0x700D0401), 4096);
    EXPECT_EQ(CBootLoader::KV32GetFlashSize(0x701902C1), 512);
}

TEST(ConsoleLink, ProductIdAnswers)
{
    struct Case {
        std::vector<BYTE> id;
        bool ok;
        const char* pid;
        BYTE series;
    };
    const Case cases[] = {
        {{0x70, 0x05, 0x02, 0x40, 0x0D}, true, "02407005", 0x0D},
        {{0x01, 0x02, 0x03, 0x04, 0x05}, true, "03040102", 0x05},
        {{0x04, 0x18}, true, "0418", 2},
        {{0x02, 0x41, 0x70, 0x04, 0x04}, true, "70040241", 0x04},
        {{0x01, 0x02, 0x03}, false, "", 2},
        {{}, false, "", 2},
        {{1, 2, 3, 4, 5, 6}, false, "", 2},
    };
    for (const Case& c : cases) {
        std::string pid = "stale";
        BYTE series = 0x99;
        EXPECT_EQ(CBootLoader::DecodeProductId(c.id.data(), static_cast<int>(c.id.size()), pid, series), c.ok);
        EXPECT_EQ(pid, c.pid);
        EXPECT_EQ(series, c.series);
    }
}

TEST(ConsoleLink, VersionAndBid)
{
    struct Case {
        BYTE version, reserve, bid;
        const char* versionText;
        const char* bidText;
        int bidValue;
    };
    const Case cases[] = {
        {0x31, 0xFF, 0x41, "3.1", "0401", 0x4100},
        {0x31, 0x02, 0x41, "3.1", "4102", 0x4102},
        {0x31, 0x02, 0x00, "3.1", "NA", -7},  // the value stays as it was
        {0xFF, 0x00, 0xAB, "15.15", "AB00", 0xAB00},
        {0x00, 0xFF, 0xFF, "0.0", "0F0F", 0xFF00},
    };
    for (const Case& c : cases) {
        std::string version;
        std::string bid;
        int value = -7;
        CBootLoader::DecodeVersion(c.version, c.reserve, c.bid, version, bid, value);
        EXPECT_EQ(version, c.versionText);
        EXPECT_EQ(bid, c.bidText);
        EXPECT_EQ(value, c.bidValue);
    }
    EXPECT_EQ(CBootLoader::DecodeFallbackBID(0x52), "52");
    EXPECT_EQ(CBootLoader::DecodeFallbackBID(0x4A), "4a");
    EXPECT_EQ(CBootLoader::DecodeFallbackBID(0x3F), "NA");
    EXPECT_EQ(CBootLoader::DecodeFallbackBID(0x40), "40");
    EXPECT_EQ(CBootLoader::DecodeFallbackBID(0xFF), "NA");
    EXPECT_EQ(CBootLoader::DecodeFallbackBID(0xFE), "fe");
}

TEST(ConsoleLink, BootOptionPatterns)
{
    const std::vector<std::vector<std::string>> expected = {
        {},
        {"DTR0", "DTR1"},
        {"DTR0", "RTS0", "DTR1", "RTS1"},
        {"DTR0", "RTS1", "DTR1", "RTS0"},
        {"DTR1", "DTR0"},
        {"DTR1", "RTS0", "DTR0", "RTS1"},
        {"DTR1", "RTS1", "DTR0", "RTS0"},
        {"RTS0", "RTS1"},
        {"RTS0", "DTR0", "RTS1", "DTR1"},
        {"RTS0", "DTR1", "RTS1", "DTR0"},
        {"RTS1", "RTS0"},
        {"RTS1", "DTR0", "RTS0", "DTR1"},
        {"RTS1", "DTR1", "RTS0", "DTR0"},
    };
    for (int option = 0; option <= 12; ++option) {
        RecordingCom com;
        com.SetBootSwitch(AUTOMATIC);
        com.SetBootOptionIndex(option);
        EXPECT_TRUE(com.SetBootOption()) << option;
        EXPECT_EQ(Lines(com.events), expected[option]) << option;
        EXPECT_EQ(com.totalPause, 600) << option;
    }
    // the reset line is released 200 ms before the boot line
    RecordingCom com;
    com.SetBootSwitch(AUTOMATIC);
    com.SetBootOptionIndex(2);
    com.SetBootOption();
    EXPECT_EQ(com.events, (std::vector<std::string>{"DTR0", "wait100", "RTS0", "wait100", "DTR1", "wait200",
                                                    "RTS1", "wait200"}));
}

TEST(ConsoleLink, BootOptionRefusals)
{
    for (int option : {13, -1, 1000}) {
        RecordingCom com;
        com.SetBootSwitch(AUTOMATIC);
        com.SetBootOptionIndex(option);
        EXPECT_FALSE(com.SetBootOption()) << option;
        EXPECT_TRUE(com.events.empty()) << option;
    }
    RecordingCom manual;
    manual.SetBootOptionIndex(3);
    EXPECT_FALSE(manual.SetBootOption());
    EXPECT_TRUE(manual.events.empty());
    // a boot line without a reset line
    RecordingCom noReset;
    EXPECT_FALSE(noReset.SetBootOption(BOOTOPTION_NONE, BOOTOPTION_RTS, LOW, HIGH));
    EXPECT_TRUE(noReset.events.empty());
}

TEST(ConsoleLink, SettingsTablesAndDfuList)
{
    CCom usart;
    EXPECT_EQ(usart.GetSupSpeedInBaud().size(), 12);
    EXPECT_EQ(usart.GetSupSpeedInBaud().last(), 256000);
    EXPECT_EQ(usart.GetSupTimeOut().size(), 19);
    EXPECT_EQ(usart.GetSupParity(), (QList<int>{0, 1, 2}));

    // DFU objects: no serial settings, port index = number - 1, boot switch stays manual
    CComManager manager;
    manager.SetInterfaceType(INTERFACE_DFU);
    QList<CCom> list = manager.getCom(3);
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].GetPortNum(), 0);
    EXPECT_EQ(list[2].GetPortNum(), 2);
    EXPECT_TRUE(list[0].GetSupSpeedInBaud().isEmpty());
    list[0].SetBootSwitch(AUTOMATIC);
    EXPECT_EQ(list[0].GetBootSwitch(), MANUAL);
    EXPECT_TRUE(list[1].SetBootOption());
    EXPECT_EQ(manager.getCom(-1).size(), 3);  // -1 keeps the count
    EXPECT_TRUE(manager.IsCanbeOpen(5));

    CComManager serial;
    serial.SetInterfaceType(INTERFACE_USART);
    EXPECT_TRUE(serial.getCom(4).isEmpty());
}

TEST(ConsoleLink, OpenCloseAndProbeOnATerminal)
{
    // A pseudo-terminal with nobody behind it is enough to open a port.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);

    CComManager manager;
    manager.SetInterfaceType(INTERFACE_USART);
    constexpr int kPort = 900;
    CCom com(kPort, INTERFACE_USART, slave.c_str());
    EXPECT_FALSE(com.IsOpen());
    ASSERT_EQ(com.Open(), 0);
    EXPECT_TRUE(com.IsOpen());
    ASSERT_NE(com.GetBootLoader(), nullptr);
    EXPECT_EQ(com.GetBootLoader()->GetHandle(), com.GetHandle());
    // an open port is reported as openable and stays open
    EXPECT_TRUE(manager.IsCanbeOpen(kPort));
    EXPECT_TRUE(com.IsOpen());
    EXPECT_EQ(com.SetComTimeOut(1000), 0);
    EXPECT_EQ(com.GetTimeOut(), 1000);
    // closing ends the link
    EXPECT_EQ(com.Close(), 0);
    EXPECT_FALSE(com.IsOpen());
    EXPECT_EQ(com.GetBootLoader(), nullptr);
    // the probe has no device name to open
    EXPECT_FALSE(manager.IsCanbeOpen(kPort + 1));
    // settings the library refuses are not stored
    EXPECT_NE(com.SetSettings(0, 8, 2), 0);
    EXPECT_EQ(com.GetSpeedInBaud(), 115200);
    close(master);
}

} // namespace
