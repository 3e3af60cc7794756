// Option bytes and single values through READ/WRITE, over the fake transport.
#include "ProtocolFixture.h"

namespace {

using W = std::vector<Bytes>;

class TargetFixture : public CommandFixture {
 protected:
  void SetUp() override {
    CommandFixture::SetUp();
    allow(&TARGET_DESCRIPTOR::READ_CMD);
    allow(&TARGET_DESCRIPTOR::WRITE_CMD);
  }
  // One READ or WRITE answered in full; `data` for a READ.
  void answerRead(const Bytes& data) { reads({kAck, kAck, kAck, data}); }
  void answerWrite() { reads({kAck, kAck, kAck}); }
};

TEST_F(TargetFixture, SetWritesValueComplementPairsInPackets) {
  BYTE two[2] = {0xA5, 0x07};
  answerWrite();
  ASSERT_EQ(SUCCESS, TARGET_SetUserSystemData(h, 0x1FFFF800, two, 2));
  ASSERT_EQ(3u, st.written.size());
  EXPECT_EQ((Bytes{0x1F, 0xFF, 0xF8, 0x00, 0x1F ^ 0xFF ^ 0xF8}), st.written[1]);
  EXPECT_EQ((Bytes{0x03, 0xA5, 0x5A, 0x07, 0xF8, 0x03 ^ 0xA5 ^ 0x5A ^ 0x07 ^ 0xF8}), st.written[2]);

  // Packet size 4: three values go as 4 bytes at Addr and 2 at Addr + 4.
  st.written.clear();
  ASSERT_EQ(SUCCESS, SetPaketSize(h, 4));
  BYTE three[3] = {1, 2, 3};
  answerWrite();
  answerWrite();
  ASSERT_EQ(SUCCESS, TARGET_SetUserSystemData(h, 0x1FFFF800, three, 3));
  ASSERT_EQ(6u, st.written.size());
  EXPECT_EQ((Bytes{0x03, 1, 0xFE, 2, 0xFD, 0x03 ^ 1 ^ 0xFE ^ 2 ^ 0xFD}), st.written[2]);
  EXPECT_EQ((Bytes{0x1F, 0xFF, 0xF8, 0x04, 0x1F ^ 0xFF ^ 0xF8 ^ 0x04}), st.written[4]);
  EXPECT_EQ((Bytes{0x01, 3, 0xFC, 0x01 ^ 3 ^ 0xFC}), st.written[5]);

  EXPECT_EQ(INPUT_PARAMS_ERROR, TARGET_SetUserSystemData(h, 0x1FFFF800, three, 0));
}

TEST_F(TargetFixture, GetDropsComplementsAndLeavesOutputAloneOnFailure) {
  answerRead({0xA5, 0x5A, 0xFF, 0x00});
  BYTE out[2] = {0, 0};
  ASSERT_EQ(SUCCESS, TARGET_GetUserSystemData(h, 0x1FFFF800, out, 2));
  EXPECT_EQ((Bytes{0xA5, 0xFF}), Bytes(out, out + 2));

  ASSERT_EQ(SUCCESS, SetPaketSize(h, 4));
  answerRead({1, 0xFE, 2, 0xFD});
  reads({kAck, kNack});
  BYTE keep[3] = {9, 9, 9};
  EXPECT_EQ(CMD_FAIL, TARGET_GetUserSystemData(h, 0x1FFFF800, keep, 3));
  EXPECT_EQ((Bytes{9, 9, 9}), Bytes(keep, keep + 3));
}

TEST_F(TargetFixture, AccessProtectionByteDecoding) {
  struct { BYTE b0, b1, fap; } cases[] = {
      {0xFF, 0xFF, 0xFF}, {0xA5, 0x5A, 0xA5}, {0x00, 0xFF, 0xA5}, {0xA5, 0xA5, 0xFF}, {0xCC, 0x33, 0xA5},
  };
  for (auto& c : cases) {
    answerRead({c.b0, c.b1, 0, 0, 0, 0, 0, 0});
    BYTE fap = 0;
    ASSERT_EQ(SUCCESS, TARGET_GetFAPUserSystemData(h, &fap));
    EXPECT_EQ(c.fap, fap) << std::hex << int(c.b0) << " " << int(c.b1);
  }
}

TEST_F(TargetFixture, SingleFieldGetters) {
  answerRead({0x00, 0x01});
  WORD size = 0;
  ASSERT_EQ(SUCCESS, TARGET_GetFlashSize(h, 0x1FFFF7E0, &size));
  EXPECT_EQ(0x0100, size);

  answerRead({0x42, 0x99});
  BYTE v = 0;
  ASSERT_EQ(SUCCESS, TARGET_GetMemoryAddress(h, 0x1FFFF7E8, &v));
  EXPECT_EQ(0x42, v);

  answerRead({0x11, 0xEE, 0x22, 0xDD, 0, 0, 0, 0});
  answerRead({0x33, 0xCC, 0x44, 0xBB, 0, 0, 0, 0});
  BYTE e0, e1, e2, e3;
  ASSERT_EQ(SUCCESS, TARGET_GetEPPUserSystemData(h, &e0, &e1, &e2, &e3));
  EXPECT_EQ((Bytes{0x11, 0x22, 0x33, 0x44}), (Bytes{e0, e1, e2, e3}));

  answerRead({0xA5, 0x5A, 0x07, 0xF8, 0, 0, 0, 0});
  BYTE user = 0;
  ASSERT_EQ(SUCCESS, TARGET_GetUserUserSystemData(h, &user));
  EXPECT_EQ(0x07, user);

  answerRead({0x12, 0xED, 0x34, 0xCB, 0, 0, 0, 0});
  BYTE d0, d1;
  ASSERT_EQ(SUCCESS, TARGET_GetDataUserSystemData(h, &d0, &d1));
  EXPECT_EQ(0x12, d0);
  EXPECT_EQ(0x34, d1);
  EXPECT_EQ((Bytes{0x1F, 0xFF, 0xF8, 0x04, 0x1F ^ 0xFF ^ 0xF8 ^ 0x04}), st.written[st.written.size() - 2]);
}

}  // namespace
