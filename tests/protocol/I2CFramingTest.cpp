// Byte-exact tests of the I2C bridge framing over a recording serial line.
#include "I2CBridge.h"
#include "KVBLAckValue.h"
#include "ProtocolFixture.h"

namespace {

using W = std::vector<Bytes>;

class I2CFixture : public PortFixture {
 protected:
  void SetUp() override { openWith(&kvi2c::kFlavour); }
  Bytes data(unsigned n) {
    Bytes b(n);
    for (unsigned i = 0; i < n; ++i) b[i] = static_cast<BYTE>(i + 1);
    return b;
  }
  static Bytes ok() { return {0xBF, 0xF1}; }
  static Bytes readAnswer(BYTE sub, const Bytes& d) {
    Bytes b = {0xBF, sub, 0x00, 0x00};
    b.insert(b.end(), d.begin(), d.end());
    return b;
  }
};

TEST_F(I2CFixture, WritesUpToSixtyBytesGoAsOneFrame) {
  Bytes d = data(60);
  serial.answer(ok());
  ASSERT_EQ(SUCCESS, kvi2c::I2C_Write_Data(h, 60, d.data()));
  ASSERT_EQ(1u, serial.sent.size());
  EXPECT_EQ(64u, serial.sent[0].size());
  EXPECT_EQ((Bytes{0xBF, 0x03, 0x00, 60}), Bytes(serial.sent[0].begin(), serial.sent[0].begin() + 4));
}

TEST_F(I2CFixture, LongerWritesGoAsMassTransfersOfSixtyByteChunks) {
  struct { BYTE size; std::vector<unsigned> chunks; } cases[] = {{61, {60, 1}}, {120, {60, 60}}, {252, {60, 60, 60, 60, 12}}};
  for (auto& c : cases) {
    serial.sent.clear();
    Bytes d = data(c.size);
    for (size_t i = 0; i < c.chunks.size() + 2; ++i) serial.answer(ok());
    ASSERT_EQ(SUCCESS, kvi2c::I2C_Write_Data(h, c.size, d.data()));
    ASSERT_EQ(c.chunks.size() + 2, serial.sent.size());
    EXPECT_EQ((Bytes{0xBF, 0x00, 0x00, c.size}), serial.sent.front());
    unsigned off = 0;
    for (size_t i = 0; i < c.chunks.size(); ++i) {
      Bytes expect = {0xBF, 0x01, 0x00, static_cast<BYTE>(c.chunks[i])};
      expect.insert(expect.end(), d.begin() + off, d.begin() + off + c.chunks[i]);
      EXPECT_EQ(expect, serial.sent[i + 1]);
      off += c.chunks[i];
    }
    EXPECT_EQ((Bytes{0xBF, 0x02}), serial.sent.back());
  }
}

TEST_F(I2CFixture, MassReadAsksForChunksOfSixtyThenTheRest) {
  Bytes d = data(64);
  serial.answer(ok());
  serial.answer(readAnswer(0x05, Bytes(d.begin(), d.begin() + 60)));
  serial.answer(readAnswer(0x05, Bytes(d.begin() + 60, d.end())));
  BYTE out[64] = {};
  ASSERT_EQ(SUCCESS, kvi2c::I2C_Read_Data(h, 64, out, 0));
  EXPECT_EQ((W{{0xBF, 0x04, 0x00, 0x40}, {0xBF, 0x05, 0x00, 60}, {0xBF, 0x05, 0x00, 4}}), serial.sent);
  EXPECT_EQ(d, Bytes(out, out + 64));
}

// A busy bridge did nothing with the frame, which is sent again (at most 3
// more times); the other statuses end the exchange at once.
TEST_F(I2CFixture, BridgeStatusesMapToResultCodes) {
  struct { BYTE status; BYTE code; } cases[] = {
      {0xF1, SUCCESS}, {0xFD, I2C_DEVICE_BUSY}, {0xFE, I2C_INVALID_DATA_PARAM},
      {0xFF, I2C_UNRECOGNIZED_CMD}, {0x42, I2C_CMD_EXEC_ERROR}, {0x00, I2C_CMD_EXEC_ERROR},
  };
  BYTE one = 0x55;
  for (auto& c : cases) {
    const size_t frames = c.status == 0xFD ? 4 : 1;
    EXPECT_EQ(c.code, kvi2c::I2C_Analyse_Result(c.status));
    for (size_t i = 0; i < frames; ++i) serial.answer({0xBF, c.status});
    serial.sent.clear();
    EXPECT_EQ(c.code, kvi2c::I2C_Write_Data(h, 1, &one));
    EXPECT_EQ(frames, serial.sent.size());
    if (c.status == 0xF1) continue;
    // The same status in place of a read answer.
    for (size_t i = 0; i < frames; ++i) serial.answer({0xBF, c.status, 0x00, 0x00, 0x00});
    BYTE out;
    EXPECT_EQ(c.code, kvi2c::I2C_Read_Data(h, 1, &out, 0));
    // ... and on a chunk of a mass write.
    Bytes d = data(70);
    serial.answer(ok());
    for (size_t i = 0; i < frames; ++i) serial.answer({0xBF, c.status});
    EXPECT_EQ(c.code, kvi2c::I2C_Write_Data(h, 70, d.data()));
    EXPECT_TRUE(serial.answers.empty());
  }
  // Busy once, then done: the frame went twice, the write succeeds.
  serial.answer({0xBF, 0xFD});
  serial.answer(ok());
  serial.sent.clear();
  EXPECT_EQ(SUCCESS, kvi2c::I2C_Write_Data(h, 1, &one));
  EXPECT_EQ((W{{0xBF, 0x03, 0x00, 0x01, 0x55}, {0xBF, 0x03, 0x00, 0x01, 0x55}}), serial.sent);
  // A single write's answer and a mass write's end answer count by their
  // status byte alone: their first byte is not compared (a chunk's is).
  serial.answer({0x00, 0xF1});
  EXPECT_EQ(SUCCESS, kvi2c::I2C_Write_Data(h, 1, &one));
  Bytes d = data(70);
  for (int i = 0; i < 3; ++i) serial.answer(ok());
  serial.answer({0x00, 0xF1});
  EXPECT_EQ(SUCCESS, kvi2c::I2C_Write_Data(h, 70, d.data()));
  EXPECT_TRUE(serial.answers.empty());
}

TEST_F(I2CFixture, AnswersThatAreNotTheExpectedFrameNeverSucceed) {
  BYTE out[8];
  // A read answered by a "done" status instead of data.
  serial.answer({0xBF, 0xF1, 0x00, 0x00, 0x00});
  EXPECT_EQ(I2C_CMD_EXEC_ERROR, kvi2c::I2C_Read_Data(h, 1, out, 0));
  // A chunk acknowledged with the wrong first byte.
  Bytes d = data(70);
  serial.answer(ok());
  serial.answer({0x00, 0xF1});
  EXPECT_EQ(I2C_CMD_EXEC_ERROR, kvi2c::I2C_Write_Data(h, 70, d.data()));
  // A short answer is a read failure, never a partial success.
  serial.answer({0xBF, 0x06, 0x00, 0x00, 0x11});
  EXPECT_EQ(READ_FAIL, kvi2c::I2C_Read_Data(h, 2, out, 0));
  serial.answer({0xBF});
  EXPECT_EQ(READ_FAIL, kvi2c::I2C_Write_Data(h, 1, out));
  // Inside a mass write a failed chunk exchange gives 0xFF.
  serial.answer(ok());
  EXPECT_EQ(CHUNK_FAIL, kvi2c::I2C_Write_Data(h, 70, d.data()));
}

TEST_F(I2CFixture, EmptyTransfersNeverReachTheWire) {
  BYTE b = 0;
  EXPECT_EQ(CHUNK_FAIL, kvi2c::I2C_Single_Write_Data(h, 0, &b));
  EXPECT_EQ(CHUNK_FAIL, kvi2c::I2C_Mass_Write_Data(h, 0, nullptr));
  EXPECT_EQ(SEND_FAIL, kvi2c::I2C_Single_Read_Data(h, 0, &b));
  EXPECT_EQ(SEND_FAIL, kvi2c::I2C_Variable_Single_Read_Data(h, 0, &b));
  EXPECT_TRUE(serial.sent.empty());
}

TEST_F(I2CFixture, ShortWritesAreSendFailures) {
  BYTE b[2] = {1, 2};
  serial.shortWriteAt = 0;
  EXPECT_EQ(SEND_FAIL, kvi2c::I2C_Write_Data(h, 2, b));
  serial.sent.clear();
  EXPECT_EQ(SEND_FAIL, kvi2c::I2C_Read_Data(h, 2, b, 0));
}

TEST_F(I2CFixture, VariableReadIsBoundedByTheCallersBuffer) {
  BYTE out[4] = {0, 0, 0, 0};
  WORD got = 0;
  serial.answer({0xBF, 0x07, 0x03, 0x0A, 0x0B, 0x0C});
  ASSERT_EQ(SUCCESS, kvi2c::VariableRead(h, 4, out, &got));
  EXPECT_EQ(3, got);
  EXPECT_EQ((W{{0xBF, 0x07}}), serial.sent);
  // Longer than asked: refused, and its bytes do not stay on the line.
  serial.answer({0xBF, 0x07, 0x05, 1, 2, 3, 4, 5});
  EXPECT_EQ(READ_FAIL, kvi2c::VariableRead(h, 4, out, &got));
  EXPECT_TRUE(serial.answers.empty());
  // A short block is used only as far as it arrived.
  serial.answer({0xBF, 0x07, 0x04, 0x21});
  ASSERT_EQ(SUCCESS, kvi2c::VariableRead(h, 4, out, &got));
  EXPECT_EQ(1, got);
  // A length that never arrived.
  serial.answer({0xBF, 0x07});
  EXPECT_EQ(READ_FAIL, kvi2c::VariableRead(h, 4, out, &got));
}

TEST_F(I2CFixture, InitFrameAndItsAnswer) {
  serial.answer({0xB0, 0xF1});
  ASSERT_EQ(SUCCESS, KVBL_Init_BL(h, 0x0076, 400000, 1));
  EXPECT_EQ((W{{0xB0, 0x29, 0x08, 0x00, 0x00, 0x76, 0x00, 0x06, 0x1A, 0x80, 0x01}}), serial.sent);
  struct { Bytes answer; BYTE code; } cases[] = {
      {{0xB0, 0xF2}, UNREOGNIZED_DEVICE}, {{0xBF, 0xF1}, UNREOGNIZED_DEVICE}, {{0xB0}, READ_FAIL}, {{}, READ_FAIL}};
  for (auto& c : cases) {
    serial.answer(c.answer);
    EXPECT_EQ(c.code, KVBL_Init_BL(h, 0x3C, 400000, 0));
  }
}

TEST_F(I2CFixture, CommandsTravelAsSingleFramesWithTheAckAsAOneByteRead) {
  desc().READ_CMD = 1;
  serial.answer(ok());                           // [11 EE]
  serial.answer(readAnswer(0x06, {0x79}));       // ACK
  serial.answer(ok());                           // address
  serial.answer(readAnswer(0x06, {0x79}));
  serial.answer(ok());                           // count
  serial.answer(readAnswer(0x06, {0x79}));
  serial.answer(readAnswer(0x06, {0xDE, 0xAD}));
  BYTE out[2];
  ASSERT_EQ(SUCCESS, KVBL_READ(h, 0x08000000, 2, out));
  EXPECT_EQ((W{{0xBF, 0x03, 0x00, 0x02, 0x11, 0xEE},
               {0xBF, 0x06, 0x00, 0x01},
               {0xBF, 0x03, 0x00, 0x05, 0x08, 0x00, 0x00, 0x00, 0x08},
               {0xBF, 0x06, 0x00, 0x01},
               {0xBF, 0x03, 0x00, 0x02, 0x01, 0xFE},
               {0xBF, 0x06, 0x00, 0x01},
               {0xBF, 0x06, 0x00, 0x02}}),
            serial.sent);
  EXPECT_EQ((Bytes{0xDE, 0xAD}), Bytes(out, out + 2));
}

TEST_F(I2CFixture, GetSelectsTheAcknowledgeVariantUnlessItIsTheReducedOne) {
  struct { ACKS before, after; } cases[] = {{UNDEFINED, ST79}, {ST79, ST79}, {ST75, ST75}};
  for (auto& c : cases) {
    ACK_VALUE = c.before;
    serial.answer(ok());
    serial.answer(readAnswer(0x06, {0x79}));
    serial.answer({0xBF, 0x07, 0x03, 0x00, 0x10, 0x00});
    serial.answer(readAnswer(0x06, {0x79}));
    BYTE v;
    Commands cm{};
    ASSERT_EQ(SUCCESS, KVBL_GET(h, &v, &cm));
    EXPECT_EQ(c.after, GetAckValue());
  }
  ACK_VALUE = ST79;
}

TEST_F(I2CFixture, GetBlockLongerThanItsBufferIsRefused) {
  serial.answer(ok());
  serial.answer(readAnswer(0x06, {0x79}));
  Bytes big = {0xBF, 0x07, 65};
  big.resize(3 + 65, 0x11);
  serial.answer(big);
  BYTE v;
  Commands c{};
  EXPECT_EQ(READ_FAIL, KVBL_GET(h, &v, &c));
}

}  // namespace
