// A client linked only to libKVBLLIB, against kv32sim on every link the
// library carries: the USART transport and the bridges, chosen per port.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>

#include "SerialPortRate.h"
#include "SimSession.h"

namespace {

constexpr DWORD kFlash = 0x08000000;

// Connects as the program does for the link's interface type.
::testing::AssertionResult connect(SimSession& s, const std::string& link, BYTE type,
                                   std::vector<std::string> extra = {}, long baud = 115200) {
  return ConnectAsTheProgram(s, link, type, extra, 15, baud);
}

void roundTrip(SimSession& s, unsigned seed) {
  auto sectors = SectorList(2, 2);
  ASSERT_EQ(SUCCESS, KVBL_ERASE(s.h, 2, sectors.data(), 2048));
  auto image = Pattern(2 * 2048 - 7, seed);
  const DWORD at = kFlash + 2 * 2048;
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(s.h, at, image.data(), image.size(), 1));
  ASSERT_EQ(SUCCESS, KVBL_VERIFY(s.h, at, image.data(), image.size(), 1));
  std::vector<BYTE> back(image.size());
  ASSERT_EQ(SUCCESS, KVBL_UPLOAD(s.h, at, back.data(), back.size()));
  EXPECT_EQ(image, back);
}

TEST(KVBLLIBSim, UsartConnectsIdentifiesAndTransfers) {
  SimSession s;
  ASSERT_TRUE(connect(s, "usart", KVBL_INTERFACE_USART));
  EXPECT_TRUE(s.cmds.READ_CMD && s.cmds.WRITE_CMD && s.cmds.ERASE_EXT_CMD);
  EXPECT_EQ((std::vector<BYTE>{0x02, 0x41, 0x70, 0x04, 0x04}), s.pid);
  roundTrip(s, 1);
  BYTE block[8];
  ASSERT_EQ(SUCCESS, TARGET_GetUserSystemData(s.h, ADDR_USER_OPB, block, 8));
  EXPECT_EQ(0xA5, block[0]);
}

TEST(KVBLLIBSim, UsartChipAlreadyStartedStillConnects) {
  SimSession s;
  ASSERT_TRUE(connect(s, "usart", KVBL_INTERFACE_USART));
  // A second start byte meets a bootloader that is already running.
  EXPECT_EQ(SUCCESS, KVBL_Init_BL(s.h, 0, 0, 0));
  BYTE v;
  Commands c{};
  EXPECT_EQ(SUCCESS, KVBL_GET(s.h, &v, &c));
  EXPECT_TRUE(c.READ_CMD);
}

TEST(KVBLLIBSim, UsartRunsAtANonStandardRate) {
  SimSession s;
  ASSERT_TRUE(connect(s, "usart", KVBL_INTERFACE_USART, {"--baud", "250000"}, 250000));
  // The pseudo-terminal carries exactly the rate asked for.
  const int fd = ::open(s.sim.ptyPath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  unsigned long in = 0, out = 0;
  EXPECT_TRUE(SerialGetRates(fd, &in, &out));
  ::close(fd);
  EXPECT_EQ(250000u, in);
  EXPECT_EQ(250000u, out);
  roundTrip(s, 2);
}

TEST(KVBLLIBSim, UsartSilentLineIsAReadFailure) {
  // No chip answers the start byte in time: a failure, never a success.
  SimSession s;
  ASSERT_TRUE(TARGET_SetComIntType(KVBL_INTERFACE_USART) == SUCCESS);
  ASSERT_TRUE(s.open("usart", {"--fault", "drop:1"}, 16, 115200, 300));
  EXPECT_EQ(READ_FAIL, KVBL_Init_BL(s.h, 0, 0, 0));
  BYTE state = 0xEE;
  ASSERT_EQ(SUCCESS, KVBL_GetLineState(s.h, &state));
  EXPECT_EQ(KVBL_LINE_PRESENT, state) << "a silent line is no gone line";
}

TEST(KVBLLIBSim, UsartUnpluggedAdapterIsAGoneLine) {
  // The adapter goes away in the middle of a download: the transfer fails
  // at once, and the port can tell why, also after its close.
  SimSession s;
  ASSERT_TRUE(connect(s, "usart", KVBL_INTERFACE_USART, {"--fault", "unplug:3000"}));
  ASSERT_EQ(SUCCESS, SetTimeOut(s.h, 5000));
  auto sectors = SectorList(0, 4);
  ASSERT_EQ(SUCCESS, KVBL_ERASE(s.h, 4, sectors.data(), 2048));
  auto image = Pattern(4 * 2048, 9);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(SUCCESS, KVBL_DNLOAD(s.h, kFlash, image.data(), image.size(), 0));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "sat out the time-out";
  BYTE state = 0;
  ASSERT_EQ(SUCCESS, KVBL_GetLineState(s.h, &state));
  EXPECT_EQ(KVBL_LINE_GONE, state);
  EXPECT_EQ(SUCCESS, Interface_Close(s.h));
  ASSERT_EQ(SUCCESS, KVBL_GetLineState(s.h, &state));
  EXPECT_EQ(KVBL_LINE_GONE, state);
  EXPECT_EQ(CANT_OPEN_COM, Interface_Open(s.h)) << "the device node went with the adapter";
  EXPECT_EQ(INPUT_PARAMS_MEMORY_ALLOCATION_ERROR, KVBL_GetLineState(s.h, nullptr));
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_GetLineState(reinterpret_cast<HANDLE>(1025), &state));
}

TEST(KVBLLIBSim, I2CBridgeThroughTheSameLibrary) {
  SimSession s;
  ASSERT_TRUE(connect(s, "i2c", KVBL_INTERFACE_I2C));
  roundTrip(s, 3);
}

#if defined(KVBL_WITH_SPI)
TEST(KVBLLIBSim, SpiBridgeThroughTheSameLibrary) {
  SimSession s;
  ASSERT_TRUE(connect(s, "spi", KVBL_INTERFACE_SPI));
  roundTrip(s, 4);
}
#endif

#if defined(KVBL_WITH_CAN)
TEST(KVBLLIBSim, CanBridgeThroughTheSameLibrary) {
  SimSession s;
  ASSERT_TRUE(connect(s, "can", KVBL_INTERFACE_CAN));
  roundTrip(s, 5);
}
#endif

TEST(KVBLLIBSim, TwoChipsOnTwoLinksAtOnce) {
  SimSession a, b;
  ASSERT_TRUE(connect(a, "usart", KVBL_INTERFACE_USART));
  ASSERT_TRUE(TARGET_SetComIntType(KVBL_INTERFACE_I2C) == SUCCESS);
  ASSERT_TRUE(b.open("i2c", {"--device", "KV32S21"}, 17));
  ASSERT_EQ(SUCCESS, KVBL_Init_BL(b.h, 0x3C, 400000, 0));
  ASSERT_TRUE(b.identify());
  EXPECT_NE(a.pid, b.pid);
  roundTrip(a, 6);
  roundTrip(b, 7);
}

}  // namespace
