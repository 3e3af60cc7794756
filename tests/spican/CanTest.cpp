// Byte-exact tests of the CAN transport: frames with the command code in
// them, 8-byte segmentation, the bridge start and speed change, and the
// command-per-frame sequences.
#include <functional>

#include "BridgeScript.h"
#include "CANBridge.h"

namespace {

using Frames = std::vector<Bytes>;
using can::Ack;
using can::Ok;
using can::ReadAnswer;
using can::ReadRequest;
using can::Write;

class CanFixture : public BridgeFixture {
 protected:
  void SetUp() override { openWith(&kvcan::kFlavour); }
  // The bare opening of a command without parameters and its acknowledge.
  static Frames bare(BYTE cmd) { return {Write(cmd, {}), ReadRequest(cmd, 1)}; }
  static Frames join(Frames a, const Frames& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
  // After a failed command the line is brought back in step with a bare
  // frame of a code no chip knows; nothing answers it here: once more, then
  // the command fails as it did.
  static Frames unanswered() { return Frames(2, Write(kvcan::kResyncCode, {})); }
};

TEST_F(CanFixture, BridgeStartAndSpeedChange) {
  script({{0xB0, 0xF1}});
  EXPECT_EQ(SUCCESS, KVBL_Init_BL(h, 0x1234, 2, 0x55));
  EXPECT_EQ(Frames({{0xB0, 0x29, 0x03, 0x01, 0x02, 0x00}}), serial.sent);
  script({{0xB0, 0xFF}});
  EXPECT_EQ(UNREOGNIZED_DEVICE, KVBL_Init_BL(h, 0, 2, 0));
  script({{0xB0}});
  EXPECT_EQ(READ_FAIL, KVBL_Init_BL(h, 0, 2, 0));

  script({Ok(), Ack(), {0xB0, 0xF1}, Ack()});
  ASSERT_EQ(SUCCESS, KVBL_SetSpeed(h, 5));
  EXPECT_EQ(Frames({{0xBF, 0x08, 0x03, 0x02, 0x05, 0x00},
                    {0xBF, 0x09, 0x03, 0x01},
                    {0xB0, 0x29, 0x03, 0x01, 0x05, 0x00},
                    {0xBF, 0x09, 0x03, 0x01}}),
            serial.sent);
  // The bridge refusing the new speed is the result.
  script({Ok(), Ack(), {0xB0, 0xFE}});
  EXPECT_EQ(UNREOGNIZED_DEVICE, KVBL_SetSpeed(h, 5));
  Interface_Close(h);
  EXPECT_EQ(NO_CON_AVAILABLE, KVBL_SetSpeed(h, 5));
}

TEST_F(CanFixture, GetReadsOneVariableBlockEndingInAck) {
  struct Case {
    const char* name;
    Bytes block;
    BYTE expect;
  } cases[] = {
      {"two codes", {0x02, 0x10, 0x00, 0x11, 0x79}, SUCCESS},
      {"refused at the end", {0x02, 0x10, 0x00, 0x11, 0x1F}, CMD_FAIL},
      {"acknowledge missing", {0x02, 0x10, 0x00, 0x11}, CMD_FAIL},
      {"no version", {0x02}, READ_FAIL},
  };
  for (const Case& c : cases) {
    script({Ok(), Ack(), {0xBF, 0x0A, 0x00, static_cast<BYTE>(c.block.size())}, c.block});
    BYTE version = 0;
    Commands cmds{};
    EXPECT_EQ(c.expect, KVBL_GET(h, &version, &cmds)) << c.name;
    Frames frames = join(bare(GET_CMD), {{0xBF, 0x0A, 0x00, 0x00}});
    if (c.expect != SUCCESS) frames = join(frames, unanswered());
    EXPECT_EQ(frames, serial.sent) << c.name;
    if (c.expect == SUCCESS) {
      EXPECT_EQ(0x10, version);
      EXPECT_EQ(2, desc().CmdCount);
      EXPECT_TRUE(cmds.GET_CMD && cmds.READ_CMD);
    }
  }
  // Codes this transport does not carry are never listed.
  const Bytes all = {0x07, 0x10, 0x43, 0x71, 0x91, 0xB3, 0xFA, 0x44, 0x03, 0x79};
  script({Ok(), Ack(), {0xBF, 0x0A, 0x00, static_cast<BYTE>(all.size())}, all});
  BYTE version = 0;
  Commands cmds{};
  ASSERT_EQ(SUCCESS, KVBL_GET(h, &version, &cmds));
  EXPECT_FALSE(cmds.ERASE_CMD || cmds.ERASEPROGRAM_TEMP_UNPROTECT_CMD || cmds.ACCESS_TEMP_UNPROTECT_CMD ||
               cmds.ENABLE_BANK3_CMD || cmds.KV32_ISP_CMD);
  EXPECT_TRUE(cmds.ERASE_EXT_CMD);
  EXPECT_TRUE(desc().SET_SPEED_CMD);

  // Calls that need those flags are refused without traffic; the ISP-tool
  // command is answered without traffic.
  serial.sent.clear();
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_EnableBank3(h, 1, 2, 3));
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_ACCESS_TEMP_UNPROTECT(h));
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_ERASEPROGRAM_TEMP_UNPROTECT(h));
  EXPECT_EQ(SUCCESS, KVBL_KV32ISP_TOOL(h));
  EXPECT_TRUE(serial.sent.empty());
}

TEST_F(CanFixture, ReadIsSegmentedIntoFramesOfEight) {
  allow(&TARGET_DESCRIPTOR::READ_CMD);
  const Bytes d = Counting(20);
  script({Ok(), Ack(), ReadAnswer(Bytes(d.begin(), d.begin() + 8)), ReadAnswer(Bytes(d.begin() + 8, d.begin() + 16)),
          ReadAnswer(Bytes(d.begin() + 16, d.end()))});
  BYTE out[20] = {};
  ASSERT_EQ(SUCCESS, KVBL_READ(h, 0x08000000, 20, out));
  EXPECT_EQ(Frames({{0xBF, 0x08, 0x11, 0x05, 0x08, 0x00, 0x00, 0x00, 0x13},
                    ReadRequest(0x11, 1),
                    ReadRequest(0x11, 8),
                    ReadRequest(0x11, 8),
                    ReadRequest(0x11, 4)}),
            serial.sent);
  EXPECT_EQ(d, Bytes(out, out + 20));
  // A refused address frame: the read is not allowed there.
  script({Ok(), ReadAnswer({0x1F})});
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_READ(h, 0x20000000, 4, out));
}

TEST_F(CanFixture, WriteSendsAddressThenDataFrames) {
  allow(&TARGET_DESCRIPTOR::WRITE_CMD);
  const Bytes d = Counting(10);
  script({Ok(), Ack(), Ok(), Ok(), Ack()});
  ASSERT_EQ(SUCCESS, KVBL_WRITE(h, 0x08000004, 10, const_cast<BYTE*>(d.data())));
  EXPECT_EQ(Frames({Write(0x31, {0x08, 0x00, 0x00, 0x04, 0x09}), ReadRequest(0x31, 1),
                    Write(0x31, Bytes(d.begin(), d.begin() + 8)), Write(0x31, Bytes(d.begin() + 8, d.end())),
                    ReadRequest(0x31, 1)}),
            serial.sent);
  struct Case {
    const char* name;
    Bytes answers;
    BYTE expect;
  } cases[] = {
      // A busy bridge did nothing: the frame is sent again, 3 more times.
      {"bridge busy on the address", Cat({{0xBF, 0xFD}, {0xBF, 0xFD}, {0xBF, 0xFD}, {0xBF, 0xFD}}),
       CAN_DEVICE_BUSY},
      {"bridge refuses the data", Cat({Ok(), Ack(), {0xBF, 0xFE}}), CAN_INVALID_DATA_PARAM},
      {"done in a wrong answer", {0x00, 0xF1}, CAN_CMD_EXEC_ERROR},
      {"no answer to a frame", Cat({Ok(), Ack(), Ok()}), CHUNK_FAIL},
      {"chip refuses the data", Cat({Ok(), Ack(), Ok(), Ok(), ReadAnswer({0x1F})}), CMD_FAIL},
      {"status instead of the acknowledge",
       Cat({Ok(), {0xBF, 0xFD, 0x00, 0x00, 0x00}, {0xBF, 0xFD, 0x00, 0x00, 0x00},
            {0xBF, 0xFD, 0x00, 0x00, 0x00}, {0xBF, 0xFD, 0x00, 0x00, 0x00}}),
       CAN_DEVICE_BUSY},
  };
  for (const Case& c : cases) {
    script({c.answers});
    EXPECT_EQ(c.expect, KVBL_WRITE(h, 0x08000004, 10, const_cast<BYTE*>(d.data()))) << c.name;
  }
}

TEST_F(CanFixture, EraseCodesAndSectorLists) {
  allow(&TARGET_DESCRIPTOR::ERASE_EXT_CMD);
  Progress = 0;
  script({Ok(), Ack(), Ack()});
  ASSERT_EQ(SUCCESS, KVBL_ERASE(h, 0xFFFE, nullptr, 0));
  EXPECT_EQ(Frames({Write(0x44, {0xFF, 0xFE}), ReadRequest(0x44, 1), ReadRequest(0x44, 1)}), serial.sent);
  EXPECT_EQ(std::vector<unsigned>{3000}, RecordedSleeps());
  EXPECT_EQ(25u, Progress);

  // A 64 KB block needs its address, which CAN does not carry: refused
  // before any traffic.
  script({});
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_BLOCK_ERASE(h, 0xFFFB, 0x08010000));
  EXPECT_TRUE(serial.sent.empty());

  // 12 sectors: groups of 10 and 2, numbers most significant byte first.
  Bytes sectors;
  for (unsigned s = 0x0100; s < 0x010C; ++s) {
    sectors.push_back(static_cast<BYTE>(s));
    sectors.push_back(static_cast<BYTE>(s >> 8));
  }
  Progress = 0;
  script({Ok(), Ack(), Ok(), Ok(), Ok(), Ack(), Ok(), Ack(), Ok(), Ack()});
  ASSERT_EQ(SUCCESS, KVBL_ERASE(h, 12, sectors.data(), 2048));
  EXPECT_EQ(2u, Progress);
  ASSERT_EQ(10u, serial.sent.size());
  EXPECT_EQ(Write(0x44, {0x00, 0x09}), serial.sent[0]);
  EXPECT_EQ(Write(0x44, {0x01, 0x00, 0x01, 0x01, 0x01, 0x02, 0x01, 0x03}), serial.sent[2]);
  EXPECT_EQ(Write(0x44, {0x01, 0x08, 0x01, 0x09}), serial.sent[4]);
  EXPECT_EQ(Write(0x44, {0x00, 0x01}), serial.sent[6]);
  EXPECT_EQ(Write(0x44, {0x01, 0x0A, 0x01, 0x0B}), serial.sent[8]);
}

// Every other command: the frames it sends and what its answers give.
TEST_F(CanFixture, CommandSequences) {
  TARGET_DESCRIPTOR& t = desc();
  for (BOOL* f = &t.GET_CMD; f <= &t.ACCESS_LEVEL_PROTECT_CMD; ++f) *f = 1;
  BYTE b3[3], id[5] = {}, crc[4];
  BYTE idLen = 5;
  BYTE sectors[3] = {4, 5, 6};
  DWORD w[3];
  struct Case {
    const char* name;
    std::function<BYTE()> call;
    Bytes answers;
    Frames frames;
    BYTE expect;
  } cases[] = {
      {"GET_VER_ROPS", [&] { return KVBL_GET_VER_ROPS(h, b3, b3 + 1, b3 + 2); },
       Cat({Ok(), Ack(), ReadAnswer({0x31}), ReadAnswer({0x00}), ReadAnswer({0xAA}), Ack()}),
       join(bare(0x01), {ReadRequest(0x01, 1), ReadRequest(0x01, 1), ReadRequest(0x01, 1), ReadRequest(0x01, 1)}),
       SUCCESS},
      {"GET_ID", [&] { return KVBL_GET_ID(h, &idLen, id); },
       Cat({Ok(), Ack(), ReadAnswer({0x04}), ReadAnswer({0x02}), ReadAnswer({0x41}), ReadAnswer({0x70}),
            ReadAnswer({0x04}), ReadAnswer({0x04}), Ack()}),
       join(bare(0x02), Frames(7, ReadRequest(0x02, 1))), SUCCESS},
      {"GO", [&] { return KVBL_GO(h, 0x08000100); }, Cat({Ok(), ReadAnswer({0x00})}),
       {Write(0x21, {0x08, 0x00, 0x01, 0x00}), ReadRequest(0x21, 1)}, SUCCESS},
      {"ERASEPROGRAM_PROTECT", [&] { return kvbl::EraseProgramProtect(h, 3, sectors); },
       Cat({Ok(), Ack(), Ok(), Ack()}),
       {Write(0x63, {0x02}), ReadRequest(0x63, 1), Write(0x63, {4, 5, 6}), ReadRequest(0x63, 1)}, SUCCESS},
      {"ERASEPROGRAM_PERM_UNPROTECT", [&] { return KVBL_ERASEPROGRAM_PERM_UNPROTECT(h); },
       Cat({Ok(), Ack(), Ack()}), join(bare(0x73), {ReadRequest(0x73, 1)}), SUCCESS},
      {"ACCESS_PROTECT refused", [&] { return KVBL_ACCESS_PROTECT(h); }, Cat({Ok(), ReadAnswer({0x1F})}),
       bare(0x82), CMD_NOT_ALLOWED},
      {"FIRMWARE_CRC", [&] { return KVBL_GetFirmwareCRC(h, 0x08000000, 4, crc); },
       Cat({Ok(), Ack(), ReadAnswer({0xDE, 0xAD, 0xBE, 0xEF})}),
       {Write(0xAC, {0x08, 0x00, 0x00, 0x00, 0x00, 0x03}), ReadRequest(0xAC, 1), ReadRequest(0xAC, 4)}, SUCCESS},
      {"ENABLE_SLIB status 2", [&] { return KVBL_EnableSlib(h, 0x01020304, 0x0010, 0x0020, 0x0030); },
       Cat({Ok(), Ack(), Ok(), ReadAnswer({0x02}), Ack()}),
       {Write(0xD0, {1, 2, 3, 4}), ReadRequest(0xD0, 1), Write(0xD0, {0x00, 0x10, 0x00, 0x20, 0x00, 0x30}),
        ReadRequest(0xD0, 1), ReadRequest(0xD0, 1)},
       SLIB_STARTSECTOR_ERROR},
      {"DISABLE_SLIB", [&] { return KVBL_DisableSlib(h, 0xA0B0C0D0); },
       Cat({Ok(), Ack(), ReadAnswer({0x00}), Ack()}),
       {Write(0xD1, {0xA0, 0xB0, 0xC0, 0xD0}), ReadRequest(0xD1, 1), ReadRequest(0xD1, 1), ReadRequest(0xD1, 1)},
       SUCCESS},
      {"GET_SLIB_STATUS", [&] { return KVBL_GetSlibStatus(h, w, w + 1, w + 2); },
       Cat({Ok(), Ack(), ReadAnswer(Counting(8)), ReadAnswer(Counting(4, 9)), Ack()}),
       join(bare(0xD2), {ReadRequest(0xD2, 8), ReadRequest(0xD2, 4), ReadRequest(0xD2, 1)}), SUCCESS},
      {"RESET_MCU", [&] { return KVBL_ResetMCU(h); }, Cat({Ok(), Ack(), Ack()}),
       join(bare(0xD4), {ReadRequest(0xD4, 1)}), SUCCESS},
      {"RESET_MCU refused", [&] { return KVBL_ResetMCU(h); }, Cat({Ok(), Ack(), ReadAnswer({0x1F})}),
       join(bare(0xD4), {ReadRequest(0xD4, 1)}), READ_FAIL},
      {"ACCESS_LEVEL_PROTECT", [&] { return KVBL_ACCESS_PROTECT_LEVEL(h, 2); }, Cat({Ok(), Ack()}),
       {Write(0xD6, {0x02, 0xFD}), ReadRequest(0xD6, 1)}, SUCCESS},
      // Last: a command that keeps failing leaves the chip counted as silent
      // (the resynchronisation gets no answer here), and the next command
      // would ask whether it listens first.
      {"GET_ID with an identifier too long", [&] { return KVBL_GET_ID(h, &idLen, id); },
       Cat({Ok(), Ack(), ReadAnswer({0x05}), ReadAnswer({1}), ReadAnswer({2}), ReadAnswer({3}), ReadAnswer({4}),
            ReadAnswer({5}), Ack()}),
       join(join(bare(0x02), Frames(7, ReadRequest(0x02, 1))), unanswered()), CMD_FAIL},
  };
  for (const Case& c : cases) {
    script({c.answers});
    EXPECT_EQ(c.expect, c.call()) << c.name;
    EXPECT_EQ(c.frames, serial.sent) << c.name;
  }
  EXPECT_EQ(Bytes({0x31, 0xAA, 0x00}), Bytes(b3, b3 + 3));  // version, ROPD, ROPE
  EXPECT_EQ(Bytes({0x02, 0x41, 0x70, 0x04, 0x04}), Bytes(id, id + 5));
  EXPECT_EQ(0xEFBEADDEu, static_cast<uint32_t>(crc[0] | crc[1] << 8 | crc[2] << 16 | static_cast<uint32_t>(crc[3]) << 24));
  EXPECT_EQ(0x01020304u, w[0]);
  EXPECT_EQ(0x090A0B0Cu, w[2]);
}

TEST_F(CanFixture, VariableBlockLongerThanTheBufferIsRefusedAndDrained) {
  BYTE out[4];
  script({{0xBF, 0x0A, 0x00, 0x05}, Counting(5)});
  EXPECT_EQ(READ_FAIL, kvcan::CAN_Variable_Single_Read_Data(h, 0x00, 4, out));
  EXPECT_TRUE(serial.answers.empty());
}

}  // namespace
