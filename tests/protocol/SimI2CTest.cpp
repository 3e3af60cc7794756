// libKVI2CBLLIB against kv32sim on the I2C bridge link.
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "SimSession.h"

namespace {

constexpr DWORD kFlash = 0x08000000;

class I2CSim : public ::testing::Test {
 protected:
  void start(std::vector<std::string> extra = {}) {
    ASSERT_TRUE(s.open("i2c", extra));
    ASSERT_EQ(SUCCESS, KVBL_Init_BL(s.h, 0x3C, 400000, 0));
  }
  SimSession s;
};

TEST_F(I2CSim, ConnectsAndIdentifiesTheChip) {
  start();
  ASSERT_TRUE(s.identify());
  EXPECT_TRUE(s.cmds.GET_CMD && s.cmds.READ_CMD && s.cmds.WRITE_CMD && s.cmds.GO_CMD);
  EXPECT_TRUE(s.cmds.ERASE_EXT_CMD);
  EXPECT_FALSE(s.cmds.ERASE_CMD);
  // KV32S04, PID 70040241: [15-8][7-0][31-24][23-16][series].
  EXPECT_EQ((std::vector<BYTE>{0x02, 0x41, 0x70, 0x04, 0x04}), s.pid);
  WORD kb = 0;
  ASSERT_EQ(SUCCESS, TARGET_GetFlashSize(s.h, 0x1FFFF7E0, &kb));
  EXPECT_EQ(256, kb);
}

TEST_F(I2CSim, EraseDownloadVerifyUploadRoundTrip) {
  start();
  ASSERT_TRUE(s.identify());
  auto sectors = SectorList(0, 4);
  SetActivityTime(100);
  ASSERT_EQ(SUCCESS, KVBL_ERASE(s.h, 4, sectors.data(), 2048));
  EXPECT_EQ(1u, Progress);

  // 5001 bytes: full packets, then an odd tail.
  auto image = Pattern(5001, 1);
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(s.h, kFlash, image.data(), image.size(), 0));
  EXPECT_EQ(SUCCESS, KVBL_VERIFY(s.h, kFlash, image.data(), image.size(), 0));
  std::vector<BYTE> back(image.size());
  ASSERT_EQ(SUCCESS, KVBL_UPLOAD(s.h, kFlash, back.data(), back.size()));
  EXPECT_EQ(image, back);

  // The byte after the odd tail was left erased.
  BYTE after[2];
  ASSERT_EQ(SUCCESS, KVBL_READ(s.h, kFlash + 5000, 2, after));
  EXPECT_EQ(0xFF, after[1]);

  // One differing byte fails the verify.
  image[4000] ^= 0x01;
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_VERIFY(s.h, kFlash, image.data(), image.size(), 0));

  // Writing other values onto programmed flash is refused by the chip.
  auto other = Pattern(252, 9);
  EXPECT_EQ(CMD_FAIL, KVBL_DNLOAD(s.h, kFlash, other.data(), other.size(), 0));
}

TEST_F(I2CSim, MassEraseLeavesFlashBlank) {
  start();
  ASSERT_TRUE(s.identify());
  auto image = Pattern(600, 2);
  auto sectors = SectorList(10, 1);
  ASSERT_EQ(SUCCESS, KVBL_ERASE(s.h, 1, sectors.data(), 2048));
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(s.h, kFlash + 10 * 2048, image.data(), image.size(), 1));
  ASSERT_EQ(SUCCESS, KVBL_ERASE(s.h, 0xFFFF, nullptr, 0));
  EXPECT_EQ(25u, Progress);
  std::vector<BYTE> back(600);
  ASSERT_EQ(SUCCESS, KVBL_UPLOAD(s.h, kFlash + 10 * 2048, back.data(), back.size()));
  EXPECT_EQ(std::vector<BYTE>(600, 0xFF), back);
}

TEST_F(I2CSim, OptionBytesReadAndWrite) {
  start();
  ASSERT_TRUE(s.identify());
  BYTE fap = 0;
  ASSERT_EQ(SUCCESS, TARGET_GetFAPUserSystemData(s.h, &fap));
  EXPECT_EQ(0xA5, fap);  // unprotected: 0xA5 and its complement
  BYTE block[8] = {};
  ASSERT_EQ(SUCCESS, TARGET_GetUserSystemData(s.h, ADDR_USER_OPB, block, 8));
  EXPECT_EQ(0xA5, block[0]);

  BYTE data[2] = {0x12, 0x34};
  ASSERT_EQ(SUCCESS, TARGET_SetUserSystemData(s.h, ADDR_DATA_OPB, data, 2));
  BYTE d0 = 0, d1 = 0;
  ASSERT_EQ(SUCCESS, TARGET_GetDataUserSystemData(s.h, &d0, &d1));
  EXPECT_EQ(0x12, d0);
  EXPECT_EQ(0x34, d1);
}

TEST_F(I2CSim, ProtectedChipRefusesReads) {
  start({"--protect", "1"});
  ASSERT_TRUE(s.identify());
  BYTE b[4];
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_READ(s.h, kFlash, 4, b));
  std::vector<BYTE> buf(300);
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_UPLOAD(s.h, kFlash, buf.data(), buf.size()));
}

// A refusal or a busy bridge is ridden through; a chip that goes silent
// fails the command with the code of its first failure, within a few
// time-outs, and the port's failure report says why.
TEST_F(I2CSim, InjectedFaultsGiveTheirCodesWithinTheTimeOut) {
  struct Case { std::vector<std::string> faults; BYTE code; BYTE cause; } cases[] = {
      {{"--fault", "nack:0x11"}, SUCCESS, KVBL_FAILURE_NONE},  // READ refused once: sent again
      {{"--fault", "nack:0x11:1", "--fault", "nack:0x11:2", "--fault", "nack:0x11:3", "--fault",
        "nack:0x11:4"},
       CMD_NOT_ALLOWED, KVBL_FAILURE_NACK},                     // ... and every time
      {{"--fault", "busy:1"}, SUCCESS, KVBL_FAILURE_NONE},     // the frame is sent again
      {{"--fault", "stall:0x11"}, READ_FAIL, KVBL_FAILURE_SILENT},  // the chip goes silent
  };
  for (const Case& c : cases) {
    SimSession t;
    const std::string fault = c.faults.back();
    ASSERT_TRUE(t.open("i2c", c.faults, 12, 115200, 400));
    ASSERT_EQ(SUCCESS, KVBL_Init_BL(t.h, 0x3C, 400000, 0));
    if (fault.rfind("busy", 0) == 0) {
      BYTE v;
      Commands cm{};
      EXPECT_EQ(c.code, KVBL_GET(t.h, &v, &cm)) << fault;
      continue;
    }
    ASSERT_TRUE(t.identify()) << fault;
    BYTE b[8];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.code, KVBL_READ(t.h, kFlash, 8, b)) << fault;
    // Bounded by a few time-outs, never hanging.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << fault;
    BYTE cmd = 0, cause = 0, attempts = 0;
    DWORD address = 0;
    ASSERT_EQ(SUCCESS, KVBL_TakeLastFailure(t.h, &cmd, &address, &cause, &attempts));
    EXPECT_EQ(c.cause, cause) << fault;
    if (c.cause != KVBL_FAILURE_NONE) {
      EXPECT_EQ(READ_CMD, cmd);
      EXPECT_EQ(kFlash, address);
      if (cause == KVBL_FAILURE_NACK) {
        EXPECT_EQ(4, attempts);  // the first and 3 repeats
      }
    }
  }
}

// Answers damaged on the line (bytes dropped or flipped at random) may fail
// a transfer, but a download and verify that both report success mean the
// chip holds the image.
TEST_F(I2CSim, DamagedAnswersNeverPassForAGoodDownload) {
  auto image = Pattern(3000, 5);
  int successes = 0, failures = 0;
  for (int seed = 1; seed <= 8; ++seed) {
    char dump[] = "/tmp/protocol_dump_XXXXXX";
    const int fd = mkstemp(dump);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
      SimSession t;
      ASSERT_TRUE(t.open("i2c", {"--dump", dump, "--fault", "random:" + std::to_string(seed) + ":0.0003"},
                         14, 115200, 200));
      bool ok = KVBL_Init_BL(t.h, 0x3C, 400000, 0) == SUCCESS;
      BYTE v;
      Commands cm{};
      ok = ok && KVBL_GET(t.h, &v, &cm) == SUCCESS && SetPaketSize(t.h, 252) == SUCCESS;
      auto sectors = SectorList(0, 2);
      ok = ok && KVBL_ERASE(t.h, 2, sectors.data(), 2048) == SUCCESS;
      ok = ok && KVBL_DNLOAD(t.h, kFlash, image.data(), image.size(), 0) == SUCCESS;
      ok = ok && KVBL_VERIFY(t.h, kFlash, image.data(), image.size(), 0) == SUCCESS;
      t.close();  // the simulator writes its flash on exit
      std::FILE* f = std::fopen(dump, "rb");
      ASSERT_NE(nullptr, f);
      std::vector<BYTE> flash(image.size());
      const size_t got = std::fread(flash.data(), 1, flash.size(), f);
      std::fclose(f);
      if (ok) {
        ++successes;
        ASSERT_EQ(image.size(), got);
        EXPECT_EQ(image, flash) << "seed " << seed;
      } else {
        ++failures;
      }
    }
    unlink(dump);
  }
  RecordProperty("successes", successes);
  RecordProperty("failures", failures);
  // The command layer rides through these faults (the simulator's faults
  // are reproducible for a seed).
  EXPECT_GT(successes, 0);
}

}  // namespace
