// A bridge library against kv32sim on its own link. Built once per link:
// SPICAN_LINK_SPI against libKVSPIBLLIB, SPICAN_LINK_CAN against
// libKVCANBLLIB (SPICAN_LINK_I2C against libKVI2CBLLIB works the same way).
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "SimSession.h"

namespace {

constexpr DWORD kFlash = 0x08000000;

#if defined(SPICAN_LINK_SPI)
const char* const kLink = "spi";
BYTE StartBridge(HANDLE h) { return KVBL_Init_BL(h, 0, 1000000, 0); }
#elif defined(SPICAN_LINK_I2C)
const char* const kLink = "i2c";
BYTE StartBridge(HANDLE h) { return KVBL_Init_BL(h, 0x3C, 400000, 0); }
#else
const char* const kLink = "can";
// The connect sequence of the program: speed code 2, then the user's code.
BYTE StartBridge(HANDLE h) {
  const BYTE r = KVBL_Init_BL(h, 0, 2, 0);
  return r != SUCCESS ? r : KVBL_SetSpeed(h, 5);
}
#endif

class BridgeSim : public ::testing::Test {
 protected:
  void start(std::vector<std::string> extra = {}) {
    ASSERT_TRUE(s.open(kLink, extra));
    ASSERT_EQ(SUCCESS, StartBridge(s.h));
    ASSERT_TRUE(s.identify());
  }
  SimSession s;
};

TEST_F(BridgeSim, ConnectsAndIdentifiesTheChip) {
  start();
  EXPECT_TRUE(s.cmds.GET_CMD && s.cmds.READ_CMD && s.cmds.WRITE_CMD && s.cmds.GO_CMD);
  EXPECT_TRUE(s.cmds.ERASE_EXT_CMD);
  EXPECT_FALSE(s.cmds.ERASE_CMD);
  // KV32S04, PID 70040241: [15-8][7-0][31-24][23-16][series].
  EXPECT_EQ((std::vector<BYTE>{0x02, 0x41, 0x70, 0x04, 0x04}), s.pid);
  WORD kb = 0;
  ASSERT_EQ(SUCCESS, TARGET_GetFlashSize(s.h, 0x1FFFF7E0, &kb));
  EXPECT_EQ(256, kb);
#if defined(SPICAN_LINK_CAN)
  EXPECT_FALSE(s.cmds.ENABLE_BANK3_CMD || s.cmds.KV32_ISP_CMD || s.cmds.ACCESS_TEMP_UNPROTECT_CMD);
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_EnableBank3(s.h, 1, 1024, 0));
#endif
}

TEST_F(BridgeSim, EraseDownloadVerifyUploadRoundTrip) {
  start();
  auto sectors = SectorList(0, 4);
  SetActivityTime(100);
  ASSERT_EQ(SUCCESS, KVBL_ERASE(s.h, 4, sectors.data(), 2048));
  EXPECT_EQ(1u, Progress);

  auto image = Pattern(5001, 3);  // full packets, then an odd tail
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(s.h, kFlash, image.data(), image.size(), 0));
  EXPECT_EQ(SUCCESS, KVBL_VERIFY(s.h, kFlash, image.data(), image.size(), 0));
  std::vector<BYTE> back(image.size());
  ASSERT_EQ(SUCCESS, KVBL_UPLOAD(s.h, kFlash, back.data(), back.size()));
  EXPECT_EQ(image, back);
  BYTE after[2];
  ASSERT_EQ(SUCCESS, KVBL_READ(s.h, kFlash + 5000, 2, after));
  EXPECT_EQ(0xFF, after[1]);

  image[4000] ^= 0x01;
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_VERIFY(s.h, kFlash, image.data(), image.size(), 0));
  // Other values onto programmed flash: the chip refuses the data.
  auto other = Pattern(252, 9);
  EXPECT_EQ(CMD_FAIL, KVBL_DNLOAD(s.h, kFlash, other.data(), other.size(), 0));

}

TEST_F(BridgeSim, MassEraseAndOptionBytes) {
  start();
  auto image = Pattern(600, 2);
  auto sectors = SectorList(10, 1);
  ASSERT_EQ(SUCCESS, KVBL_ERASE(s.h, 1, sectors.data(), 2048));
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(s.h, kFlash + 10 * 2048, image.data(), image.size(), 0));
  ASSERT_EQ(SUCCESS, KVBL_ERASE(s.h, 0xFFFF, nullptr, 0));
  EXPECT_EQ(25u, Progress);
  std::vector<BYTE> back(600);
  ASSERT_EQ(SUCCESS, KVBL_UPLOAD(s.h, kFlash + 10 * 2048, back.data(), back.size()));
  EXPECT_EQ(std::vector<BYTE>(600, 0xFF), back);

  BYTE fap = 0;
  ASSERT_EQ(SUCCESS, TARGET_GetFAPUserSystemData(s.h, &fap));
  EXPECT_EQ(0xA5, fap);
  BYTE data[2] = {0x12, 0x34};
  ASSERT_EQ(SUCCESS, TARGET_SetUserSystemData(s.h, ADDR_DATA_OPB, data, 2));
  BYTE d0 = 0, d1 = 0;
  ASSERT_EQ(SUCCESS, TARGET_GetDataUserSystemData(s.h, &d0, &d1));
  EXPECT_EQ(0x12, d0);
  EXPECT_EQ(0x34, d1);
#if defined(SPICAN_LINK_CAN)
  // No 64 KB block erase on this link: refused, the chip is not asked.
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_BLOCK_ERASE(s.h, 0xFFFB, kFlash));
  BYTE b[4];
  EXPECT_EQ(SUCCESS, KVBL_READ(s.h, kFlash, 4, b));
#endif
}

// A refusal is ridden through; one that lasts gives its code; a chip that
// goes silent fails the command within a few time-outs.
TEST_F(BridgeSim, InjectedFaultsGiveResultCodesWithinTheLimits) {
  struct Case { std::vector<std::string> faults; BYTE code; bool silent; } cases[] = {
      {{"nack:0x11"}, SUCCESS, false},  // READ refused once at its first acknowledge: sent again
      {{"nack:0x11:1", "nack:0x11:2", "nack:0x11:3", "nack:0x11:4"}, CMD_NOT_ALLOWED, false},  // every time
      {{"stall:0x11"}, 0, true},        // the chip goes silent: any failure
  };
  for (const Case& c : cases) {
    SimSession t;
    std::vector<std::string> options;
    for (const std::string& f : c.faults) options.insert(options.end(), {"--fault", f});
    const std::string fault = c.faults.back();
    ASSERT_TRUE(t.open(kLink, options, 12, 115200, 400));
    ASSERT_EQ(SUCCESS, StartBridge(t.h));
    ASSERT_TRUE(t.identify()) << fault;
    BYTE b[8];
    const auto start = std::chrono::steady_clock::now();
    const BYTE r = KVBL_READ(t.h, kFlash, 8, b);
    if (c.silent) {
      EXPECT_NE(SUCCESS, r) << fault;
    } else {
      EXPECT_EQ(c.code, r) << fault;
    }
    // Bounded by the handshake limit and a few time-outs, never hanging.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << fault;
    // The next command starts afresh.
    if (!c.silent) {
      EXPECT_EQ(SUCCESS, KVBL_READ(t.h, kFlash, 8, b)) << fault;
    }
  }
}

// Answers damaged on the line may fail a transfer, but a download and
// verify that both report success mean the chip holds the image.
TEST_F(BridgeSim, DamagedAnswersNeverPassForAGoodDownload) {
  auto image = Pattern(3000, 5);
  for (int seed = 1; seed <= 6; ++seed) {
    const std::string dump = "/tmp/spican_dump_" + std::to_string(getpid()) + "_" + std::to_string(seed);
    bool ok = false;
    {
      SimSession t;
      ASSERT_TRUE(t.open(kLink, {"--dump", dump, "--fault", "random:" + std::to_string(seed) + ":0.0003"},
                         14, 115200, 200));
      auto sectors = SectorList(0, 2);
      BYTE v;
      Commands cm{};
      ok = StartBridge(t.h) == SUCCESS && KVBL_GET(t.h, &v, &cm) == SUCCESS &&
           SetPaketSize(t.h, 252) == SUCCESS && KVBL_ERASE(t.h, 2, sectors.data(), 2048) == SUCCESS &&
           KVBL_DNLOAD(t.h, kFlash, image.data(), image.size(), 0) == SUCCESS &&
           KVBL_VERIFY(t.h, kFlash, image.data(), image.size(), 0) == SUCCESS;
    }  // the simulator writes its flash on exit
    std::vector<BYTE> flash(image.size());
    if (std::FILE* f = std::fopen(dump.c_str(), "rb")) {
      flash.resize(std::fread(flash.data(), 1, flash.size(), f));
      std::fclose(f);
    }
    unlink(dump.c_str());
    if (ok) {
      EXPECT_EQ(image, flash) << "seed " << seed;
    }
  }
}

}  // namespace
