// Byte-exact tests of the command layer over a recording fake transport.
#include <cstring>

#include "KVBLRecovery.h"
#include "KVBLRequest.h"
#include "KVBLResync.h"
#include "ProtocolFixture.h"

namespace {

using W = std::vector<Bytes>;

TEST_F(CommandFixture, GetParsesOnlyCodesWithinTheCountThatArrived) {
  struct Case {
    Bytes block;
    BYTE count, version;
    bool get, read, write, erase_ext;
  } cases[] = {
      // Reference count = block[0] + 1: three codes.
      {{0x02, 0x10, 0x00, 0x11, 0x31}, 3, 0x10, true, true, true, false},
      // A block [N][version][N codes]: the extra position never arrived.
      {{0x02, 0x22, 0x00, 0x44}, 3, 0x22, true, false, false, true},
      // Unknown codes are ignored.
      {{0x01, 0x31, 0x99, 0x11}, 2, 0x31, false, true, false, false},
  };
  for (const Case& c : cases) {
    st.written.clear();
    st.blocks.push_back(c.block);
    reads({kAck, kAck});
    BYTE version = 0;
    Commands cmds{};
    cmds.SET_SPEED_CMD = 7;  // the caller's value survives
    ASSERT_EQ(SUCCESS, KVBL_GET(h, &version, &cmds));
    EXPECT_EQ((W{{0x00, 0xFF}}), st.written);
    EXPECT_EQ(c.count, desc().CmdCount);
    EXPECT_EQ(c.version, version);
    EXPECT_EQ(c.get, cmds.GET_CMD != 0);
    EXPECT_EQ(c.read, cmds.READ_CMD != 0);
    EXPECT_EQ(c.write, cmds.WRITE_CMD != 0);
    EXPECT_EQ(c.erase_ext, cmds.ERASE_EXT_CMD != 0);
    EXPECT_EQ(7, cmds.SET_SPEED_CMD);
  }
}

TEST_F(CommandFixture, GetRefusesBadAnswersAndKeepsTheOldDescriptor) {
  desc().READ_CMD = 1;
  BYTE v;
  Commands c{};
  // A block of one byte carries no version.
  st.blocks.push_back({0x05});
  reads({kAck, kAck});
  EXPECT_EQ(READ_FAIL, KVBL_GET(h, &v, &c));
  // The last acknowledge missing.
  st.blocks.push_back({0x00, 0x10, 0x00});
  reads({kAck, kNack});
  EXPECT_EQ(CMD_FAIL, KVBL_GET(h, &v, &c));
  EXPECT_EQ(1, desc().READ_CMD);
  EXPECT_EQ(INPUT_PARAMS_MEMORY_ALLOCATION_ERROR, KVBL_GET(h, nullptr, &c));
}

TEST_F(CommandFixture, GetIdBoundsTheIdentifierAndTheCallersBuffer) {
  allow(&TARGET_DESCRIPTOR::GET_ID_CMD);
  reads({kAck, {0x04, 0x02, 0x41, 0x70, 0x04, 0x04}, kAck});
  BYTE size = 0;
  ASSERT_EQ(SUCCESS, KVBL_GET_ID(h, &size, nullptr));
  EXPECT_EQ(5, size);
  EXPECT_EQ((W{{0x02, 0xFD}}), st.written);

  reads({kAck, {0x04, 0x02, 0x41, 0x70, 0x04, 0x04}, kAck});
  BYTE id[5] = {};
  ASSERT_EQ(SUCCESS, KVBL_GET_ID(h, &size, id));
  EXPECT_EQ((Bytes{0x02, 0x41, 0x70, 0x04, 0x04}), Bytes(id, id + 5));

  // A length above 5 is refused.
  reads({kAck, {0x05, 1, 2, 3, 4, 5}, kAck});
  EXPECT_EQ(CMD_FAIL, KVBL_GET_ID(h, &size, nullptr));

  // An identifier longer than the buffer the caller sized earlier.
  BYTE small = 2;
  BYTE two[2];
  reads({kAck, {0x04, 1, 2, 3, 4, 5}, kAck});
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_GET_ID(h, &small, two));
}

TEST_F(CommandFixture, CommandsNotListedAreRefusedWithoutTraffic) {
  BYTE b[4];
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_READ(h, 0x08000000, 4, b));
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_WRITE(h, 0x08000000, 4, b));
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_GO(h, 0x08000000));
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_ERASE(h, 0xFFFF, nullptr, 0));
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_ACCESS_PROTECT(h));
  EXPECT_EQ(CMD_NOT_ALLOWED, kvbl::EraseProgramProtect(h, 1, b));
  EXPECT_EQ(CMD_NOT_ALLOWED, TARGET_GetUserSystemData(h, ADDR_USER_OPB, b, 2));
  // The flag check comes before the pointer check.
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_READ(h, 0x08000000, 4, nullptr));
  EXPECT_TRUE(st.written.empty());
}

TEST_F(CommandFixture, AcknowledgeFailuresMapByPosition) {
  allow(&TARGET_DESCRIPTOR::READ_CMD);
  BYTE b[4];
  reads({kNack});
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_READ(h, 0x08000000, 4, b));
  reads({kAck, kNack});
  EXPECT_EQ(CMD_FAIL, KVBL_READ(h, 0x08000000, 4, b));
  reads({kAck, kAck, {0x00}});
  EXPECT_EQ(CMD_FAIL, KVBL_READ(h, 0x08000000, 4, b));
  // A transport error passes up unchanged.
  reads({kAck});
  EXPECT_EQ(READ_FAIL, KVBL_READ(h, 0x08000000, 4, b));
  st.failWriteAt = st.writeCalls;
  st.failWriteCode = I2C_DEVICE_BUSY;
  EXPECT_EQ(I2C_DEVICE_BUSY, KVBL_READ(h, 0x08000000, 4, b));
}

TEST_F(CommandFixture, ReadAndWriteFramesAndOddSizes) {
  allow(&TARGET_DESCRIPTOR::READ_CMD);
  allow(&TARGET_DESCRIPTOR::WRITE_CMD);
  // READ of 3 bytes transfers 4 and copies 4.
  reads({kAck, kAck, kAck, {1, 2, 3, 4}});
  BYTE out[4] = {0, 0, 0, 0};
  ASSERT_EQ(SUCCESS, KVBL_READ(h, 0x08000000, 3, out));
  EXPECT_EQ((W{{0x11, 0xEE}, {0x08, 0x00, 0x00, 0x00, 0x08}, {0x03, 0xFC}}), st.written);
  EXPECT_EQ((Bytes{1, 2, 3, 4}), Bytes(out, out + 4));

  // WRITE of 3 bytes: the pad byte is 0xFF, never the byte after the buffer.
  st.written.clear();
  reads({kAck, kAck, kAck});
  BYTE three[3] = {0xA1, 0xA2, 0xA3};
  ASSERT_EQ(SUCCESS, KVBL_WRITE(h, 0x08001234, 3, three));
  const BYTE x = 0x03 ^ 0xA1 ^ 0xA2 ^ 0xA3 ^ 0xFF;
  EXPECT_EQ((W{{0x31, 0xCE}, {0x08, 0x00, 0x12, 0x34, 0x08 ^ 0x12 ^ 0x34}, {0x03, 0xA1, 0xA2, 0xA3, 0xFF, x}}),
            st.written);
}

TEST_F(CommandFixture, SizesOutsideThePacketAreRefused) {
  allow(&TARGET_DESCRIPTOR::READ_CMD);
  allow(&TARGET_DESCRIPTOR::WRITE_CMD);
  allow(&TARGET_DESCRIPTOR::GO_CMD);
  BYTE buf[256] = {};
  ASSERT_EQ(SUCCESS, SetPaketSize(h, 16));
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_READ(h, 0, 17, buf));
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_WRITE(h, 0, 18, buf));
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_READ(h, 0, 0, buf));
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_WRITE(h, 0, 0, buf));
  // Ranges that would wrap the 32-bit address on the wire.
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_READ(h, 0xFFFFFFFF, 2, buf));
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_WRITE(h, 0x100000000ul, 2, buf));
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_UPLOAD(h, 0xFFFFFF00, buf, 0x101));
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_DNLOAD(h, 0xFFFFFF00, buf, 0x101, 0));
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_GO(h, 0x100000000ul));
  EXPECT_TRUE(st.written.empty());
}

TEST_F(CommandFixture, SendRqRefusesBadRequestsBeforeAnyTraffic) {
  BYTE buf[512] = {};
  struct { BYTE cmd; WORD length; BYTE nb; WORD wb; bool data; BYTE code; } cases[] = {
      {READ_CMD, 0, 0, 0, true, INPUT_PARAMS_ERROR},
      {READ_CMD, 257, 0, 0, true, INPUT_PARAMS_ERROR},
      {WRITE_CMD, 4, 0, 0, false, INPUT_PARAMS_MEMORY_ALLOCATION_ERROR},
      {ERASE_CMD, 0, 0, 0, true, INPUT_PARAMS_ERROR},
      {ERASE_EXT_CMD, 0, 0, 200, true, INPUT_PARAMS_ERROR},
      {ERASE_EXT_CMD, 0, 0, 3, false, INPUT_PARAMS_MEMORY_ALLOCATION_ERROR},
      {ERASEPROGRAM_PROTECT_CMD, 0, 0, 0, true, INPUT_PARAMS_ERROR},
      {FIRMWARE_CRC_CMD, 0, 0, 0, true, INPUT_PARAMS_ERROR},
      {GET_SLIB_STATUS_CMD, 12, 0, 0, false, INPUT_PARAMS_MEMORY_ALLOCATION_ERROR},
  };
  for (auto& c : cases) {
    KVBL_Request rq{};
    rq._cmd = c.cmd;
    rq._length = c.length;
    rq._nbSectors = c.nb;
    rq._wbSectors = c.wb;
    rq._data = c.data ? buf : nullptr;
    EXPECT_EQ(c.code, Send_RQ(h, &rq)) << std::hex << int(c.cmd);
  }
  EXPECT_EQ(INPUT_PARAMS_MEMORY_ALLOCATION_ERROR, Send_RQ(h, nullptr));
  EXPECT_TRUE(st.written.empty());
}

TEST_F(CommandFixture, PacketSizeStaysAMultipleOfFourWithinRange) {
  struct { BYTE in; BYTE result; BYTE stored; } cases[] = {
      {255, SUCCESS, 252}, {252, SUCCESS, 252}, {63, SUCCESS, 60}, {3, SUCCESS, 4},
      {0, INPUT_PARAMS_ERROR, 4},  // refused: the previous value stays
  };
  for (auto& c : cases) {
    EXPECT_EQ(c.result, SetPaketSize(h, c.in)) << int(c.in);
    BYTE got = 0;
    ASSERT_EQ(SUCCESS, GetPaketSize(h, &got));
    EXPECT_EQ(c.stored, got) << int(c.in);
  }
}

TEST_F(CommandFixture, DownloadSplitsIntoPacketsAndFillsAnOddTailFromFlash) {
  allow(&TARGET_DESCRIPTOR::READ_CMD);
  allow(&TARGET_DESCRIPTOR::WRITE_CMD);
  ASSERT_EQ(SUCCESS, SetPaketSize(h, 8));
  BYTE data[11];
  for (int i = 0; i < 11; ++i) data[i] = static_cast<BYTE>(i);
  Progress = 0;
  // 8-byte WRITE, then READ of the 3-byte tail (4 on the wire), WRITE of 4.
  reads({kAck, kAck, kAck,                 // write 8
         kAck, kAck, kAck, {0xEE, 0xEE, 0xEE, 0x5C},  // read tail
         kAck, kAck, kAck});               // write tail
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(h, 0x08000000, data, 11, 0));
  ASSERT_EQ(9u, st.written.size());
  EXPECT_EQ((Bytes{0x08, 0x00, 0x00, 0x08, 0x00}), st.written[4]);
  EXPECT_EQ((Bytes{0x03, 0xFC}), st.written[5]);
  // The pad byte carries what the flash holds (0x5C).
  const Bytes tail = st.written[8];
  EXPECT_EQ((Bytes{0x03, 8, 9, 10, 0x5C}), Bytes(tail.begin(), tail.end() - 1));
  EXPECT_EQ(2u, Progress);
}

TEST_F(CommandFixture, DownloadAndVerifySkipErasedPacketsButCountThem) {
  allow(&TARGET_DESCRIPTOR::READ_CMD);
  allow(&TARGET_DESCRIPTOR::WRITE_CMD);
  ASSERT_EQ(SUCCESS, SetPaketSize(h, 8));
  BYTE data[16];
  std::memset(data, 0xFF, sizeof(data));
  Progress = 0;
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(h, 0x08000000, data, 16, 1));
  ASSERT_EQ(SUCCESS, KVBL_VERIFY(h, 0x08000000, data, 16, 1));
  EXPECT_TRUE(st.written.empty());
  EXPECT_EQ(4u, Progress);
}

// A packet that reads differently from the file is read again until two
// reads agree on every byte; what they agree on decides, and a byte that no
// two of 5 reads agree on is a difference too. (One READ is
// [ACK][ACK][ACK][data] here.)
TEST_F(CommandFixture, VerifyReportsOneDifferingByte) {
  allow(&TARGET_DESCRIPTOR::READ_CMD);
  ASSERT_EQ(SUCCESS, SetPaketSize(h, 4));
  BYTE expect[6] = {1, 2, 3, 4, 5, 6};
  struct Case {
    std::vector<Bytes> tail;  // the tail's reads
    BYTE result;
    size_t reads;  // READ commands sent in all
  } cases[] = {
      {{{5, 7}, {5, 7}}, CMD_NOT_ALLOWED, 3},          // the chip holds 7
      {{{5, 7}, {5, 6}, {5, 6}}, SUCCESS, 4},          // the first read was changed on the way
      {{{5, 7}, {4, 6}, {5, 6}}, SUCCESS, 4},          // each byte by two reads
      {{{5, 7}, {5, 6}, {5, 8}, {5, 9}, {5, 2}}, CMD_NOT_ALLOWED, 6},  // the second byte never agrees
  };
  for (const Case& c : cases) {
    std::vector<Bytes> script = {kAck, kAck, kAck, {1, 2, 3, 4}};
    for (const Bytes& tail : c.tail) script.insert(script.end(), {kAck, kAck, kAck, tail});
    st.written.clear();
    reads(script);
    EXPECT_EQ(c.result, KVBL_VERIFY(h, 0x08000000, expect, 6, 0));
    EXPECT_EQ(3 * c.reads, st.written.size());  // pair, address, length per READ
  }
  // The last case is reported as damaged answers, the others are no failure.
  BYTE cmd = 0, cause = 0, attempts = 0;
  DWORD address = 0;
  ASSERT_EQ(SUCCESS, KVBL_TakeLastFailure(h, &cmd, &address, &cause, &attempts));
  EXPECT_EQ(KVBL_FAILURE_DAMAGED, cause);
  EXPECT_EQ(0x08000004u, address);
}

// An upload that trusts no single read: two reads per packet, more where they
// differ, and only what two reads agree on reaches the caller.
TEST_F(CommandFixture, ConfirmedUploadKeepsWhatTwoReadsAgreeOn) {
  allow(&TARGET_DESCRIPTOR::READ_CMD);
  ASSERT_EQ(SUCCESS, SetPaketSize(h, 4));
  auto read = [](const Bytes& data) { return std::vector<Bytes>{kAck, kAck, kAck, data}; };
  std::vector<Bytes> script;
  for (const Bytes& d : {Bytes{1, 2, 3, 4}, Bytes{1, 2, 3, 4}, Bytes{5, 7}, Bytes{5, 6}, Bytes{5, 6}}) {
    const auto one = read(d);
    script.insert(script.end(), one.begin(), one.end());
  }
  reads(script);
  BYTE out[6] = {};
  Progress = 0;
  ASSERT_EQ(SUCCESS, KVBL_UPLOAD_CONFIRMED(h, 0x08000000, out, 6));
  EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6}), Bytes(out, out + 6));
  EXPECT_EQ(15u, st.written.size());  // 5 READs
  EXPECT_EQ(4u, Progress);
}

TEST_F(CommandFixture, UploadReadsPacketsThenTheTail) {
  allow(&TARGET_DESCRIPTOR::READ_CMD);
  ASSERT_EQ(SUCCESS, SetPaketSize(h, 4));
  reads({kAck, kAck, kAck, {1, 2, 3, 4}, kAck, kAck, kAck, {5, 6}});
  BYTE out[6] = {};
  Progress = 0;
  ASSERT_EQ(SUCCESS, KVBL_UPLOAD(h, 0x08000100, out, 6));
  EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6}), Bytes(out, out + 6));
  EXPECT_EQ((Bytes{0x08, 0x00, 0x01, 0x04, 0x0D}), st.written[4]);
  EXPECT_EQ((Bytes{0x01, 0xFE}), st.written[5]);
  EXPECT_EQ(2u, Progress);
}

// Sector numbers as the caller passes them: 2 bytes each, LSB first.
Bytes sectors(unsigned first, unsigned count) {
  Bytes b;
  for (unsigned i = 0; i < count; ++i) {
    b.push_back(static_cast<BYTE>(first + i));
    b.push_back(static_cast<BYTE>((first + i) >> 8));
  }
  return b;
}

TEST_F(CommandFixture, ExtendedEraseGoesInGroupsOfTen) {
  allow(&TARGET_DESCRIPTOR::ERASE_EXT_CMD);
  Bytes s = sectors(0x100, 23);
  for (int i = 0; i < 3; ++i) reads({kAck, kAck});
  Progress = 5;
  ASSERT_EQ(SUCCESS, KVBL_ERASE(h, 23, s.data(), 2048));
  ASSERT_EQ(6u, st.written.size());
  EXPECT_EQ((Bytes{0x44, 0xBB}), st.written[0]);
  const Bytes& last = st.written[5];
  EXPECT_EQ((Bytes{0x00, 0x02, 0x01, 0x14, 0x01, 0x15, 0x01, 0x16, 0x00 ^ 0x02 ^ 0x01 ^ 0x14 ^ 0x01 ^ 0x15 ^ 0x01 ^ 0x16}),
            last);
  EXPECT_EQ(23u, st.written[1].size());  // 2 x 10 + 3
  EXPECT_EQ(8u, Progress);
}

TEST_F(CommandFixture, EraseSpecialCodes) {
  allow(&TARGET_DESCRIPTOR::ERASE_EXT_CMD);
  struct { WORD code; DWORD addr; Bytes frame; } cases[] = {
      {0xFFFF, 0, {0xFF, 0xFF, 0x00}},
      {0xFFFE, 0, {0xFF, 0xFE, 0x01}},
      {0xFFFC, 0, {0xFF, 0xFC, 0x03}},
      {0xFFFB, 0x08010000, {0xFF, 0xFB, 0x08, 0x01, 0x00, 0x00, 0xFF ^ 0xFB ^ 0x08 ^ 0x01}},
  };
  for (auto& c : cases) {
    st.written.clear();
    reads({kAck, kAck});
    Progress = 0;
    ASSERT_EQ(SUCCESS, KVBL_BLOCK_ERASE(h, c.code, c.addr));
    EXPECT_EQ((W{{0x44, 0xBB}, c.frame}), st.written);
    EXPECT_EQ(25u, Progress);
  }
}

// No chip in the catalogue lists the plain erase: only these tests cover it.
TEST_F(CommandFixture, PlainEraseMassAndOneBytePerSector) {
  allow(&TARGET_DESCRIPTOR::ERASE_CMD);
  reads({kAck, kAck});
  Progress = 0;
  ASSERT_EQ(SUCCESS, KVBL_ERASE(h, 0xFFFF, nullptr, 0));
  EXPECT_EQ((W{{0x43, 0xBC}, {0xFF, 0x00}}), st.written);
  EXPECT_EQ(25u, Progress);

  st.written.clear();
  Bytes s = sectors(3, 12);
  reads({kAck, kAck, kAck, kAck});
  Progress = 0;
  ASSERT_EQ(SUCCESS, KVBL_ERASE(h, 12, s.data(), 1024));
  ASSERT_EQ(4u, st.written.size());
  EXPECT_EQ((Bytes{0x09, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x09 ^ 3 ^ 4 ^ 5 ^ 6 ^ 7 ^ 8 ^ 9 ^ 10 ^ 11 ^ 12}),
            st.written[1]);
  EXPECT_EQ((Bytes{0x01, 13, 14, 0x01 ^ 13 ^ 14}), st.written[3]);
  EXPECT_EQ(2u, Progress);
}

TEST_F(CommandFixture, EraseRefusesWhatCannotGoOnTheWire) {
  allow(&TARGET_DESCRIPTOR::ERASE_CMD);
  Bytes big = sectors(0xFE, 3);  // 0x100 does not fit one byte
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_ERASE(h, 3, big.data(), 1024));
  Bytes one = sectors(1, 1);
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_ERASE(h, 0, one.data(), 1024));
  EXPECT_EQ(INPUT_PARAMS_MEMORY_ALLOCATION_ERROR, KVBL_ERASE(h, 2, nullptr, 1024));
  EXPECT_TRUE(st.written.empty());
  // With the extended erase listed as well, only 0x44 is used.
  allow(&TARGET_DESCRIPTOR::ERASE_EXT_CMD);
  reads({kAck, kAck});
  ASSERT_EQ(SUCCESS, KVBL_ERASE(h, 3, big.data(), 1024));
  EXPECT_EQ((Bytes{0x44, 0xBB}), st.written[0]);
  EXPECT_EQ(2u, st.written.size());
}

TEST_F(CommandFixture, ProtectionCommandsFramesPausesAndProgress) {
  desc().ACCESS_PERM_PROTECT_CMD = desc().ACCESS_TEMP_UNPROTECT_CMD = 1;
  desc().ACCESS_PERM_UNPROTECT_CMD = desc().ERASEPROGRAM_TEMP_UNPROTECT_CMD = 1;
  desc().ERASEPROGRAM_PERM_UNPROTECT_CMD = 1;
  struct { BYTE (*fn)(HANDLE); BYTE code; unsigned pause; } cases[] = {
      {KVBL_ACCESS_PROTECT, 0x82, 2000},
      {KVBL_ACCESS_TEMP_UNPROTECT, 0x91, 2000},
      {KVBL_ACCESS_PERM_UNPROTECT, 0x92, 2000},
      {KVBL_ERASEPROGRAM_TEMP_UNPROTECT, 0x71, 0},
      {KVBL_ERASEPROGRAM_PERM_UNPROTECT, 0x73, 0},
  };
  for (auto& c : cases) {
    st.written.clear();
    RecordedSleeps().clear();
    reads({kAck, kAck});
    Progress = 0;
    ASSERT_EQ(SUCCESS, c.fn(h));
    EXPECT_EQ((W{{c.code, static_cast<BYTE>(~c.code)}}), st.written);
    EXPECT_EQ(1u, Progress);
    if (c.pause) EXPECT_EQ(std::vector<unsigned>{c.pause}, RecordedSleeps());
    else EXPECT_TRUE(RecordedSleeps().empty());
    // The chip refusing after the work leaves Progress alone.
    reads({kAck, kNack});
    Progress = 0;
    EXPECT_EQ(CMD_FAIL, c.fn(h));
    EXPECT_EQ(0u, Progress);
  }
}

TEST_F(CommandFixture, EraseProgramProtectSendsOneBytePerSector) {
  allow(&TARGET_DESCRIPTOR::ERASEPROGRAM_PROTECT_CMD);
  BYTE s[3] = {0, 5, 31};
  reads({kAck, kAck});
  ASSERT_EQ(SUCCESS, kvbl::EraseProgramProtect(h, 3, s));
  EXPECT_EQ((W{{0x63, 0x9C}, {0x02, 0, 5, 31, 0x02 ^ 5 ^ 31}}), st.written);
  EXPECT_EQ(INPUT_PARAMS_ERROR, kvbl::EraseProgramProtect(h, 0, s));
}

TEST_F(CommandFixture, FirmwareCrcFramesAndByteOrder) {
  allow(&TARGET_DESCRIPTOR::FIRMWARE_CRC_CMD);
  reads({kAck, kAck, kAck, {0x12, 0x34, 0x56, 0x78}});
  BYTE out[4];
  ASSERT_EQ(SUCCESS, KVBL_GetFirmwareCRC(h, 0x08000000, 4, out));
  EXPECT_EQ((W{{0xAC, 0x53}, {0x08, 0x00, 0x00, 0x00, 0x08}, {0x00, 0x03, 0xFC}}), st.written);
  uint32_t v;
  std::memcpy(&v, out, 4);
  EXPECT_EQ(0x78563412u, v);
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_GetFirmwareCRC(h, 0x08000000, 0, out));
}

TEST_F(CommandFixture, SecurityLibraryStatusesBecomeResultCodes) {
  allow(&TARGET_DESCRIPTOR::ENABLE_SLIB_CMD);
  allow(&TARGET_DESCRIPTOR::DISABLE_SLIB_CMD);
  reads({kAck, {0x02}, kAck});
  EXPECT_EQ(0x32, KVBL_EnableSlib(h, 0x11223344, 0x0010, 0x0020, 0x0030));
  const Bytes frame = {0x11, 0x22, 0x33, 0x44, 0x00, 0x10, 0x00, 0x20, 0x00, 0x30,
                       0x11 ^ 0x22 ^ 0x33 ^ 0x44 ^ 0x10 ^ 0x20 ^ 0x30};
  EXPECT_EQ((W{{0xD0, 0x2F}, frame}), st.written);
  reads({kAck, {0x00}, kAck});
  EXPECT_EQ(SUCCESS, KVBL_EnableSlib(h, 1, 2, 3, 4));
  reads({kAck, {0x01}, kAck});
  EXPECT_EQ(SLIB_DISABLE_PASSWORD_ERROR, KVBL_DisableSlib(h, 0xCAFEBABE));
  reads({kAck, {0x07}, kAck});
  EXPECT_EQ(0x47, KVBL_DisableSlib(h, 0));
}

TEST_F(CommandFixture, SlibStatusWordsAreBigEndian) {
  allow(&TARGET_DESCRIPTOR::GET_SLIB_STATUS_CMD);
  reads({kAck, {0, 0, 0, 8, 0, 0, 1, 0, 0xAA, 0xBB, 0xCC, 0xDD}, kAck});
  DWORD a = 0, b = 0, c = 0;
  ASSERT_EQ(SUCCESS, KVBL_GetSlibStatus(h, &a, &b, &c));
  EXPECT_EQ(8u, a);
  EXPECT_EQ(0x100u, b);
  EXPECT_EQ(0xAABBCCDDu, c);
}

TEST_F(CommandFixture, FinalByteCommands) {
  allow(&TARGET_DESCRIPTOR::RESET_MCU_CMD);
  allow(&TARGET_DESCRIPTOR::GO_CMD);
  reads({kAck, kNack});
  EXPECT_EQ(READ_FAIL, KVBL_ResetMCU(h));
  reads({kAck, kAck});
  EXPECT_EQ(SUCCESS, KVBL_ResetMCU(h));
  // GO reads its last byte without comparing it.
  st.written.clear();
  reads({kAck, {0x00}});
  EXPECT_EQ(SUCCESS, KVBL_GO(h, 0x08000000));
  EXPECT_EQ((W{{0x21, 0xDE}, {0x08, 0x00, 0x00, 0x00, 0x08}}), st.written);
  // The ISP-tool notice needs no flag.
  st.written.clear();
  reads({kAck, {0x00}});
  EXPECT_EQ(READ_FAIL, KVBL_KV32ISP_TOOL(h));
  EXPECT_EQ((W{{0xFA, 0x05}, {0x02, 0x03, 0x56, 0x4B, 0x1C}}), st.written);
}

TEST_F(CommandFixture, TwoByteParameterCommands) {
  allow(&TARGET_DESCRIPTOR::REMAP_ENABLE_CMD);
  allow(&TARGET_DESCRIPTOR::ACCESS_LEVEL_PROTECT_CMD);
  allow(&TARGET_DESCRIPTOR::ENABLE_BANK3_CMD);
  reads({kAck, kAck, kAck, kAck, kAck, kAck});
  ASSERT_EQ(SUCCESS, KVBL_SPIMREMAP(h, 1));
  ASSERT_EQ(SUCCESS, KVBL_ACCESS_PROTECT_LEVEL(h, 0xCC));
  ASSERT_EQ(SUCCESS, KVBL_EnableBank3(h, 2, 0x00400000, 0x01020304));
  EXPECT_EQ((W{{0xD3, 0x2C}, {1, 1}, {0xD6, 0x29}, {0xCC, 0x33}, {0xB3, 0x4C},
               {2, 0x00, 0x40, 0x00, 0x00, 1, 2, 3, 4, 2 ^ 0x40 ^ 1 ^ 2 ^ 3 ^ 4}}),
            st.written);
}

TEST_F(CommandFixture, ClosedPortsAndBadHandles) {
  Interface_Close(h);
  BYTE b[2];
  Commands c{};
  EXPECT_EQ(NO_CON_AVAILABLE, KVBL_GET(h, b, &c));
  EXPECT_EQ(NO_CON_AVAILABLE, KVBL_READ(h, 0, 2, b));
  EXPECT_EQ(NO_CON_AVAILABLE, Interface_Close(h));
  EXPECT_EQ(NO_CON_AVAILABLE, SetTimeOut(h, 10));
  HANDLE bad = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(5000));
  EXPECT_EQ(NO_CON_AVAILABLE, KVBL_READ(bad, 0, 2, b));
  EXPECT_EQ(INPUT_PARAMS_ERROR, SetPaketSize(bad, 8));
  EXPECT_EQ(INPUT_PARAMS_ERROR, KVBL_SetRts(bad, true));
  EXPECT_EQ(0, Interface_is_Open(bad));
  EXPECT_TRUE(st.written.empty());
}

TEST_F(CommandFixture, SettingsAreCheckedAndNotStoredWhenRefused) {
  Interface_Close(h);
  HANDLE out = nullptr;
  char name[] = "x";
  struct { int port; long baud; int bits; int parity; float stop; } bad[] = {
      {1025, 115200, 8, 2, 1.0f}, {-1, 115200, 8, 2, 1.0f}, {3, 0, 8, 2, 1.0f},
      {3, 115200, 10, 2, 1.0f},   {3, 115200, 4, 2, 1.0f},  {3, 115200, 8, 3, 1.0f},
      {3, 115200, 8, 2, 2.5f},    {3, 115200, 8, 2, 0.5f},
  };
  for (auto& c : bad)
    EXPECT_EQ(INPUT_PARAMS_ERROR, SetCOMSettings(&out, c.port, name, c.baud, c.bits, c.parity, c.stop));
  EXPECT_EQ(INPUT_PARAMS_ERROR, SetCOMSettings(nullptr, 3, name, 115200, 8, 2, 1.0f));
  EXPECT_EQ(nullptr, out);
  // A null name is an empty name, not a crash.
  EXPECT_EQ(SUCCESS, SetCOMSettings(&out, kPort, nullptr, 9600, 7, 1, 2.0f));
  EXPECT_EQ(9600, serial.m_baudRate);
  EXPECT_EQ("", serial.m_portName);
  // While open the settings stay and the handle is still handed out.
  ASSERT_EQ(SUCCESS, Interface_Open(h));
  out = nullptr;
  EXPECT_EQ(COM_ALREADY_OPENED, SetCOMSettings(&out, kPort, name, 57600, 8, 2, 1.0f));
  EXPECT_EQ(h, out);
  EXPECT_EQ(9600, serial.m_baudRate);
  EXPECT_EQ(COM_ALREADY_OPENED, Interface_Open(h));
}

TEST(Progress, PercentIsBoundedAndSurvivesZeroScale) {
  struct { DWORD scale, progress; BYTE pct; DWORD scaleAfter; } cases[] = {
      {0, 0, 0, 1}, {0, 1, 100, 1}, {200, 50, 25, 200}, {3, 7, 100, 3}, {1000, 1, 0, 1000},
  };
  for (auto& c : cases) {
    SetActivityTime(c.scale);
    EXPECT_EQ(0u, Progress);
    Progress = c.progress;
    BYTE p = 0xEE;
    ASSERT_EQ(SUCCESS, GetProgress(&p));
    EXPECT_EQ(c.pct, p);
    DWORD t = 0;
    GetActivityTime(&t);
    EXPECT_EQ(c.scaleAfter, t);
  }
}

// The completion that brings a chip back to waiting for a command: whichever
// frame of the command the chip may be waiting for (from its first byte),
// and whether it waits for the frame after that one too, the frame check
// refuses the completion, and no two bytes of it make a command pair. The
// fillers that a byte string of one value would be are what the checks are
// for: 0x00 completes an address frame, 0xFF a WRITE data frame.
TEST(Completion, EveryFrameTheChipMayWaitForRefusesIt) {
  using kvbl::FrameRule;
  BYTE zeros[5] = {};
  size_t needs = 0;
  EXPECT_TRUE(kvbl::FrameAccepted({kvbl::FrameCheck::Xor, 5}, zeros, 5, &needs));
  std::vector<BYTE> ones(258, 0xFF);
  EXPECT_TRUE(kvbl::FrameAccepted({kvbl::FrameCheck::CountXor, 0}, ones.data(), ones.size(), &needs));
  EXPECT_EQ(258u, needs);

  const BYTE commands[] = {READ_CMD, GO_CMD, WRITE_CMD, ERASE_CMD, ERASE_EXT_CMD, ERASEPROGRAM_PROTECT_CMD,
                           FIRMWARE_CRC_CMD, ENABLE_BANK3_CMD, ENABLE_SLIB_CMD, DISABLE_SLIB_CMD,
                           REMAP_ENABLE_CMD, ACCESS_LEVEL_PROTECT_CMD, KV32_ISP_CMD, GET_CMD};
  for (BYTE cmd : commands) {
    KVBL_Request rq{};
    rq._cmd = cmd;
    FrameRule rules[kvbl::kMaxFrameRules];
    const size_t k = kvbl::ParameterFrames(&rq, rules);
    // Waiting for frame i alone, or for frame i or i + 1 (a write whose
    // status was lost may have arrived); none: a command. The last frame
    // sent before frame i is the command pair, then an address frame: the
    // first byte must not be one of its bytes (a chip that lost one of them
    // would take it for the missing one).
    const Bytes pair = {cmd, static_cast<BYTE>(~cmd)}, address = {0x08, 0x00, 0x10, 0x00, 0x18};
    std::vector<std::pair<std::vector<FrameRule>, Bytes>> waits = {{{}, pair}};
    for (size_t i = 0; i < k; ++i) {
      const Bytes& last = i == 0 ? pair : address;
      waits.push_back({{rules[i]}, last});
      if (i + 1 < k) waits.push_back({{rules[i], rules[i + 1]}, last});
    }
    for (const auto& [wait, last] : waits) {
      SCOPED_TRACE(::testing::Message() << "command " << int(cmd) << ", frames " << wait.size()
                                        << ", last frame of " << last.size());
      bool avoid[256] = {};
      for (BYTE b : last) avoid[b] = true;
      BYTE c[kvbl::kMaxCompletion];
      const size_t n = kvbl::BuildCompletion(wait.data(), wait.size(), avoid, c, sizeof c);
      ASSERT_GE(n, 2u);
      for (size_t i = 0; i < n; ++i) {
        EXPECT_TRUE(c[i] != 0x7F && c[i] != 0x5A && c[i] != 0x80) << i;
        if (i > 0) {
          EXPECT_NE(static_cast<BYTE>(~c[i - 1]), c[i]) << "a command pair at " << i;
        }
      }
      EXPECT_FALSE(avoid[c[0]]);
      for (const FrameRule& rule : wait) {
        EXPECT_FALSE(kvbl::FrameAccepted(rule, c, n, &needs));
        EXPECT_TRUE(needs != 0 && needs <= n) << "the frame is not complete";
      }
    }
  }
}

// What is done with a command whose last frame may have reached the chip.
TEST(Completion, RepeatClassesOfTheCommands) {
  struct Case { BYTE cmd; DWORD address; kvbl::RepeatClass cls; } cases[] = {
      {GET_CMD, 0, kvbl::RepeatClass::Repeat},
      {READ_CMD, 0x08000000, kvbl::RepeatClass::Repeat},
      {WRITE_CMD, 0x08001000, kvbl::RepeatClass::Repeat},
      {WRITE_CMD, 0x08400000, kvbl::RepeatClass::Repeat},   // external bank
      {WRITE_CMD, 0x1FFFF800, kvbl::RepeatClass::Reread},   // option bytes
      {WRITE_CMD, 0x1FFFE400, kvbl::RepeatClass::Reread},   // OTP
      {ERASE_EXT_CMD, 0, kvbl::RepeatClass::Repeat},
      {FIRMWARE_CRC_CMD, 0x08000000, kvbl::RepeatClass::Repeat},
      {GO_CMD, 0x08000000, kvbl::RepeatClass::Never},
      {ACCESS_PROTECT_CMD, 0, kvbl::RepeatClass::Never},
      {ERASEPROGRAM_PROTECT_CMD, 0, kvbl::RepeatClass::Never},
      {ENABLE_SLIB_CMD, 0, kvbl::RepeatClass::Never},
      {RESET_MCU_CMD, 0, kvbl::RepeatClass::Never},
  };
  for (const Case& c : cases) {
    KVBL_Request rq{};
    rq._cmd = c.cmd;
    rq._address = c.address;
    rq._length = 4;
    EXPECT_EQ(c.cls, kvbl::ClassOf(&rq)) << int(c.cmd);
    // Only the password and notice commands are not even resynchronised.
    EXPECT_EQ(c.cmd == ENABLE_SLIB_CMD, kvbl::NeverResynchronised(c.cmd)) << int(c.cmd);
  }
  EXPECT_TRUE(kvbl::NeverResynchronised(DISABLE_SLIB_CMD));
  EXPECT_TRUE(kvbl::NeverResynchronised(KV32_ISP_CMD));
}

}  // namespace
