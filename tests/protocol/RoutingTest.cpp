// libKVBLLIB's routing and its USART transport, byte-exact over recording
// serial lines (linked from the library's own objects).
#include <gtest/gtest.h>

#include "FakeLine.h"
#include "KVBLLIB.h"
#include "KVBLPorts.h"

namespace {

using W = std::vector<Bytes>;

class Routed : public ::testing::Test {
 protected:
  // Binds `port` to the transport of `type` over a recording line.
  HANDLE bind(int port, BYTE type, FakeSerial& line) {
    kvbl::ReplaceLine(port, &line);
    kvbl::BindFlavour(port, nullptr);
    EXPECT_EQ(SUCCESS, TARGET_SetComIntType(type));
    HANDLE h = nullptr;
    char name[] = "fake";
    EXPECT_EQ(SUCCESS, SetCOMSettings(&h, port, name, 115200, 8, 2, 1.0f));
    EXPECT_EQ(SUCCESS, Interface_Open(h));
    used.push_back(port);
    return h;
  }
  void TearDown() override {
    for (int p : used) {
      HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(p));
      if (Interface_is_Open(h)) Interface_Close(h);
      kvbl::ReplaceLine(p, nullptr);
      kvbl::BindFlavour(p, nullptr);
    }
    TARGET_SetComIntType(KVBL_INTERFACE_USART);
  }
  FakeSerial lines[3];  // outlive TearDown, which closes their ports
  std::vector<int> used;
};

TEST_F(Routed, TwoPortsOnTwoTransportsStayIndependent) {
  FakeSerial& usart = lines[0];
  FakeSerial& i2c = lines[1];
  HANDLE hu = bind(20, KVBL_INTERFACE_USART, usart);
  HANDLE hi = bind(21, KVBL_INTERFACE_I2C, i2c);
  // The selection has moved on; port 20 keeps its transport.
  usart.answer({0x79});
  i2c.answer({0xB0, 0xF1});
  EXPECT_EQ(SUCCESS, KVBL_Init_BL(hu, 0, 0, 0));
  EXPECT_EQ(SUCCESS, KVBL_Init_BL(hi, 0x3C, 400000, 0));
  EXPECT_EQ((W{{0x7F}}), usart.sent);
  EXPECT_EQ((W{{0xB0, 0x29, 0x08, 0x00, 0x00, 0x3C, 0x00, 0x06, 0x1A, 0x80, 0x00}}), i2c.sent);
  // The USART port runs at exactly the given rate, the bridge at its table's.
  EXPECT_TRUE(usart.exactRate());
  EXPECT_FALSE(i2c.exactRate());

  // The same command, framed by each transport.
  usart.sent.clear();
  i2c.sent.clear();
  kvbl::Descriptor(20)->ACCESS_LEVEL_PROTECT_CMD = 1;
  kvbl::Descriptor(21)->ACCESS_LEVEL_PROTECT_CMD = 1;
  usart.answer({0x79, 0x79});
  i2c.answer({0xBF, 0xF1, 0xBF, 0x06, 0, 0, 0x79, 0xBF, 0xF1, 0xBF, 0x06, 0, 0, 0x79});
  EXPECT_EQ(SUCCESS, KVBL_ACCESS_PROTECT_LEVEL(hu, 1));
  EXPECT_EQ(SUCCESS, KVBL_ACCESS_PROTECT_LEVEL(hi, 1));
  EXPECT_EQ((W{{0xD6, 0x29}, {0x01, 0xFE}}), usart.sent);
  EXPECT_EQ((W{{0xBF, 0x03, 0x00, 0x02, 0xD6, 0x29}, {0xBF, 0x06, 0x00, 0x01},
               {0xBF, 0x03, 0x00, 0x02, 0x01, 0xFE}, {0xBF, 0x06, 0x00, 0x01}}),
            i2c.sent);
  // Closing one leaves the other open.
  ASSERT_EQ(SUCCESS, Interface_Close(hu));
  EXPECT_TRUE(Interface_is_Open(hi));
}

TEST_F(Routed, UnknownTypeRefusedAndAbsentDfuDeviceDoesNotOpen) {
  EXPECT_EQ(INPUT_PARAMS_ERROR, TARGET_SetComIntType(5));

  // A DFU port is a device index; with no device in DFU mode on the bus
  // the open fails and the port stays closed.
  FakeSerial& line = lines[0];
  kvbl::ReplaceLine(30, &line);
  used.push_back(30);
  ASSERT_EQ(SUCCESS, TARGET_SetComIntType(KVBL_INTERFACE_DFU));
  HANDLE h = nullptr;
  char name[] = "";
  ASSERT_EQ(SUCCESS, SetCOMSettings(&h, 30, name, 115200, 8, 2, 1.0f));
  EXPECT_EQ(CANT_OPEN_COM, Interface_Open(h));
  EXPECT_FALSE(Interface_is_Open(h));
  EXPECT_FALSE(line.isConnected);
}

// A wrong answer is a glitch: the start byte goes again (while answers come,
// 3 more times at most); a silent line has no bootloader and fails at once.
TEST_F(Routed, UsartStartByteAcceptsAckOrNack) {
  struct { Bytes answer; BYTE code; size_t starts; } cases[] = {
      {{0x79}, SUCCESS, 1}, {{0x1F}, SUCCESS, 1}, {{0x00}, UNREOGNIZED_DEVICE, 2}, {{}, READ_FAIL, 1}};
  FakeSerial& line = lines[0];
  HANDLE h = bind(22, KVBL_INTERFACE_USART, line);
  for (auto& c : cases) {
    line.sent.clear();
    line.answer(c.answer);
    EXPECT_EQ(c.code, KVBL_Init_BL(h, 0, 0, 0));
    EXPECT_EQ(W(c.starts, {0x7F}), line.sent);
  }
  // Garbage first, then the bootloader's answer: the second start counts.
  line.sent.clear();
  line.answer({0x00});
  line.answerAfter = {{1, {0x79}}};
  EXPECT_EQ(SUCCESS, KVBL_Init_BL(h, 0, 0, 0));
  EXPECT_EQ(W(2, {0x7F}), line.sent);
  line.answerAfter.clear();
  line.shortWriteAt = static_cast<long>(line.sent.size());
  EXPECT_EQ(SEND_FAIL, KVBL_Init_BL(h, 0, 0, 0));
}

TEST_F(Routed, UsartGetReadsTheCountThenTheBlock) {
  FakeSerial& line = lines[0];
  HANDLE h = bind(23, KVBL_INTERFACE_USART, line);
  line.answer({0x79, 0x03, 0x31, 0x00, 0x11, 0x44, 0x79});
  BYTE version = 0;
  Commands c{};
  ASSERT_EQ(SUCCESS, KVBL_GET(h, &version, &c));
  EXPECT_EQ((W{{0x00, 0xFF}}), line.sent);
  EXPECT_EQ(0x31, version);
  EXPECT_TRUE(c.GET_CMD && c.READ_CMD && c.ERASE_EXT_CMD);
  EXPECT_FALSE(c.WRITE_CMD);
  EXPECT_TRUE(line.answers.empty());

  // A block longer than its buffer is refused. The command layer then
  // brings the line back in step: what is left on it is dropped, the
  // completion [01][00] (no parameter frame is pending, and its first byte
  // is none of the GET pair's) makes a waiting chip refuse a command, and
  // the start byte asks whether the chip listens. Nothing answers here: a
  // second try, then the chip counts as stalled and GET fails as it did.
  const W resync = {{0x01, 0x00}, {0x7F}, {0x7F}};
  Bytes big = {0x79, 70};
  big.resize(2 + 71, 0x11);
  big.push_back(0x79);
  line.answer(big);
  line.sent.clear();
  EXPECT_EQ(READ_FAIL, KVBL_GET(h, &version, &c));
  W expected = {{0x00, 0xFF}};
  for (int i = 0; i < 2; ++i) expected.insert(expected.end(), resync.begin(), resync.end());
  EXPECT_EQ(expected, line.sent);
  EXPECT_TRUE(line.answers.empty());
  // A block cut short is a read failure; a chip that answers the start byte
  // is asked again, and its second answer counts.
  line.sent.clear();
  line.answer({0x79, 0x03, 0x31, 0x00});
  line.answerAfter = {{2, {0x1F}},  // the refusal of the start byte
                      {3, {0x79, 0x03, 0x31, 0x00, 0x11, 0x44, 0x79}}};
  EXPECT_EQ(SUCCESS, KVBL_GET(h, &version, &c));
  EXPECT_EQ((W{{0x00, 0xFF}, {0x01, 0x00}, {0x7F}, {0x00, 0xFF}}), line.sent);
}

TEST_F(Routed, UsartCommandsAreRawReferenceFrames) {
  FakeSerial& line = lines[0];
  HANDLE h = bind(24, KVBL_INTERFACE_USART, line);
  kvbl::Descriptor(24)->WRITE_CMD = 1;
  line.answer({0x79, 0x79, 0x79});
  BYTE d[4] = {1, 2, 3, 4};
  ASSERT_EQ(SUCCESS, KVBL_WRITE(h, 0x08000010, 4, d));
  EXPECT_EQ((W{{0x31, 0xCE}, {0x08, 0x00, 0x00, 0x10, 0x18}, {0x03, 1, 2, 3, 4, 0x03 ^ 1 ^ 2 ^ 3 ^ 4}}),
            line.sent);
  line.answer({0x79, 0x79});
  EXPECT_EQ(SUCCESS, KVBL_KV32ISP_TOOL(h));
}

TEST(DfuList, ReportsNoDevicesWhenNoneAreAttached) {
  BYTE count = 99;
  WORD vid[255] = {}, pid[255] = {};
  char info[99][KVBL_DFU_INFO_LENGTH] = {};
  const BYTE r = KVBL_GetKVDeviceList(&count, vid, pid, info);
  EXPECT_TRUE(r == SUCCESS || r == CANT_OPEN_COM) << int(r);
  EXPECT_EQ(0, count);  // no hardware on this machine
  EXPECT_EQ(INPUT_PARAMS_MEMORY_ALLOCATION_ERROR, KVBL_GetKVDeviceList(nullptr, vid, pid, info));
}

}  // namespace
