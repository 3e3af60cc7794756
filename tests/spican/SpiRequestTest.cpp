// The SPI transport's command sequences: the 0x5A command prefix, a
// handshake at every acknowledge, and the waits and results that differ from
// the reference sequences.
#include <functional>

#include "BridgeScript.h"

namespace {

using Frames = std::vector<Bytes>;

class SpiRequest : public SpiFixture {
 protected:
  static Bytes command(BYTE cmd) { return spi::Write({0x5A, cmd, static_cast<BYTE>(~cmd)}); }
  // The frames of a command: its prefix frame, then the given frames with
  // a handshake (one poll) wherever `ack` stands.
  static Frames expect(BYTE cmd, std::initializer_list<Bytes> steps) {
    Frames f = {command(cmd)};
    for (const Bytes& s : steps) {
      if (s.empty()) {
        Frames a = spi::AckFrames();
        f.insert(f.end(), a.begin(), a.end());
      } else {
        f.push_back(s);
      }
    }
    return f;
  }
  const Bytes ack{};  // marks a handshake in expect()
};

TEST_F(SpiRequest, GetUsesTheVariableReadAndCountsBlock0Codes) {
  script({spi::Ok(), spi::AckAnswers(), Bytes{0xBF, 0x13, 0x05, 0x02, 0x10, 0x00, 0x11, 0x31},
          spi::AckAnswers()});
  BYTE version = 0;
  Commands cmds{};
  ASSERT_EQ(SUCCESS, KVBL_GET(h, &version, &cmds));
  EXPECT_EQ(expect(GET_CMD, {ack, {0xBF, 0x13}, ack}), serial.sent);
  EXPECT_EQ(0x10, version);
  EXPECT_EQ(2, desc().CmdCount);
  EXPECT_TRUE(cmds.GET_CMD && cmds.READ_CMD);
  EXPECT_FALSE(cmds.WRITE_CMD);  // third code, past the count
}

TEST_F(SpiRequest, FailedHandshakesGiveCommandFailureExceptReadsFirst) {
  allow(&TARGET_DESCRIPTOR::READ_CMD);
  allow(&TARGET_DESCRIPTOR::WRITE_CMD);
  allow(&TARGET_DESCRIPTOR::GET_ID_CMD);
  BYTE buf[4];
  BYTE size = 5;
  struct Case {
    const char* name;
    Bytes answers;
    std::function<BYTE()> call;
    BYTE expect;
  } cases[] = {
      {"READ refused at once", Cat({spi::Ok(), spi::AckAnswers(0x1F)}),
       [&] { return KVBL_READ(h, 0x08000000, 4, buf); }, CMD_NOT_ALLOWED},
      {"READ refused after its address",
       Cat({spi::Ok(), spi::AckAnswers(), spi::Ok(), spi::AckAnswers(0x1F)}),
       [&] { return KVBL_READ(h, 0x08000000, 4, buf); }, CMD_FAIL},
      {"WRITE refused at once", Cat({spi::Ok(), spi::AckAnswers(0x1F)}),
       [&] { return KVBL_WRITE(h, 0x08000000, 4, buf); }, CMD_FAIL},
      {"GET_ID handshake answered 0x00", Cat({spi::Ok(), spi::AckAnswers(0x79, 0, 0x00)}),
       [&] { return KVBL_GET_ID(h, &size, nullptr); }, CMD_FAIL},
  };
  for (const Case& c : cases) {
    script({c.answers});
    EXPECT_EQ(c.expect, c.call()) << c.name;
  }
}

TEST_F(SpiRequest, GoResetAndProtectionEndWithAHandshake) {
  allow(&TARGET_DESCRIPTOR::GO_CMD);
  allow(&TARGET_DESCRIPTOR::RESET_MCU_CMD);
  allow(&TARGET_DESCRIPTOR::ACCESS_PERM_PROTECT_CMD);
  allow(&TARGET_DESCRIPTOR::ERASEPROGRAM_TEMP_UNPROTECT_CMD);
  struct Case {
    const char* name;
    BYTE cmd;
    std::function<BYTE()> call;
    Bytes params;  // frame between the two handshakes (empty: none)
  } cases[] = {
      {"GO", GO_CMD, [&] { return KVBL_GO(h, 0x08000000); }, {0x08, 0x00, 0x00, 0x00, 0x08}},
      {"RESET_MCU", RESET_MCU_CMD, [&] { return KVBL_ResetMCU(h); }, {}},
      {"ACCESS_PROTECT", ACCESS_PROTECT_CMD, [&] { return KVBL_ACCESS_PROTECT(h); }, {}},
      {"ERASEPROGRAM_TEMP_UNPROTECT", ERASEPROGRAM_TEMP_UNPROTECT_CMD,
       [&] { return KVBL_ERASEPROGRAM_TEMP_UNPROTECT(h); }, {}},
  };
  for (const Case& c : cases) {
    const Bytes params = c.params.empty() ? Bytes{} : spi::Ok();
    script({spi::Ok(), spi::AckAnswers(), params, spi::AckAnswers()});
    EXPECT_EQ(SUCCESS, c.call()) << c.name;
    const Frames want = c.params.empty() ? expect(c.cmd, {ack, ack})
                                         : expect(c.cmd, {ack, spi::Write(c.params), ack});
    EXPECT_EQ(want, serial.sent) << c.name;
    // No pause: the handshake polls for the chip.
    EXPECT_TRUE(RecordedSleeps().empty()) << c.name;
    // A refusal at the end is a command failure (for RESET_MCU too).
    script({spi::Ok(), spi::AckAnswers(), params, spi::AckAnswers(0x1F)});
    EXPECT_EQ(CMD_FAIL, c.call()) << c.name;
  }
}

TEST_F(SpiRequest, ChipSideWaitsBeforeResults) {
  allow(&TARGET_DESCRIPTOR::FIRMWARE_CRC_CMD);
  allow(&TARGET_DESCRIPTOR::ENABLE_SLIB_CMD);
  allow(&TARGET_DESCRIPTOR::DISABLE_SLIB_CMD);
  BYTE crc[4];
  struct Crc { WORD sectors; unsigned sleep; } crcs[] = {{9, 10}, {10, 1000}};
  for (const Crc& c : crcs) {
    script({spi::Ok(), spi::AckAnswers(), spi::Ok(), spi::AckAnswers(), spi::Ok(), spi::AckAnswers(),
            spi::ReadAnswer({0x11, 0x22, 0x33, 0x44})});
    ASSERT_EQ(SUCCESS, KVBL_GetFirmwareCRC(h, 0x08000000, c.sectors, crc));
    EXPECT_EQ(std::vector<unsigned>{c.sleep}, RecordedSleeps()) << c.sectors;
    const BYTE m = static_cast<BYTE>(c.sectors - 1);
    EXPECT_EQ(spi::Write({0x00, m, static_cast<BYTE>(~m)}), serial.sent[8]);
    EXPECT_EQ(spi::ReadRequest(4), serial.sent.back());
  }
  EXPECT_EQ(Bytes({0x11, 0x22, 0x33, 0x44}), Bytes(crc, crc + 4));  // in the order received

  struct Slib {
    std::function<BYTE()> call;
    BYTE status;
    BYTE expect;
    unsigned sleep;
  } slibs[] = {
      {[&] { return KVBL_EnableSlib(h, 1, 2, 3, 4); }, 0, SUCCESS, 60},
      {[&] { return KVBL_EnableSlib(h, 1, 2, 3, 4); }, 2, SLIB_STARTSECTOR_ERROR, 60},
      {[&] { return KVBL_DisableSlib(h, 1); }, 1, SLIB_DISABLE_PASSWORD_ERROR, 1200},
  };
  for (const Slib& s : slibs) {
    script({spi::Ok(), spi::AckAnswers(), spi::Ok(), spi::ReadAnswer({s.status}), spi::AckAnswers()});
    EXPECT_EQ(s.expect, s.call());
    EXPECT_EQ(std::vector<unsigned>{s.sleep}, RecordedSleeps());
  }
}

TEST_F(SpiRequest, UnprotectWaitsLongOnlyForItsFirstAcknowledgeWithTheLibraryOn) {
  allow(&TARGET_DESCRIPTOR::GET_SLIB_STATUS_CMD);
  allow(&TARGET_DESCRIPTOR::ACCESS_PERM_UNPROTECT_CMD);
  DWORD s1 = 0, s2 = 0, s3 = 0;
  const Bytes words = {0, 0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0, 0};
  script({spi::Ok(), spi::AckAnswers(), spi::ReadAnswer(words), spi::AckAnswers()});
  ASSERT_EQ(SUCCESS, KVBL_GetSlibStatus(h, &s1, &s2, &s3));
  EXPECT_EQ(8u, s1);
  ASSERT_TRUE(g_bEnableSlib);

  useFakeClock();
  const Bytes idle = idlePolls(3100);
  // First acknowledge: polled past 1.8 s, up to 300 s.
  script({spi::Ok(), spi::Ok(), idle});
  EXPECT_EQ(CMD_FAIL, KVBL_ACCESS_PERM_UNPROTECT(h));
  EXPECT_GT(now(), 300000u);
  // The second acknowledge keeps the short limit.
  now() = 0;
  script({spi::Ok(), spi::AckAnswers(), spi::Ok(), idle});
  EXPECT_EQ(CMD_FAIL, KVBL_ACCESS_PERM_UNPROTECT(h));
  EXPECT_LT(now(), 2500u);

  // A status without bit 3 switches the long wait off again, and a failed
  // status read still updates it from what the caller holds.
  const Bytes off = {0, 0, 0, 0x07, 0, 0, 0, 0, 0, 0, 0, 0};
  script({spi::Ok(), spi::AckAnswers(), spi::ReadAnswer(off), spi::AckAnswers()});
  ASSERT_EQ(SUCCESS, KVBL_GetSlibStatus(h, &s1, &s2, &s3));
  EXPECT_FALSE(g_bEnableSlib);
  s1 = 0x08;
  script({spi::Ok(), spi::AckAnswers(0x1F)});
  EXPECT_EQ(CMD_FAIL, KVBL_GetSlibStatus(h, &s1, &s2, &s3));
  EXPECT_TRUE(g_bEnableSlib);
  // The four-word status read leaves it alone.
  DWORD s4 = 0;
  script({spi::Ok(), spi::AckAnswers(), spi::ReadAnswer(Bytes(16, 0x00)), spi::AckAnswers()});
  ASSERT_EQ(SUCCESS, KVBL_GetSlibStatus_Ex(h, &s1, &s2, &s3, &s4));
  EXPECT_TRUE(g_bEnableSlib);
}

}  // namespace
