// The polled acknowledge of the SPI transport, the bridge start and the
// places where its command sequences differ from the reference.
#include <time.h>

#include "KVBLPorts.h"
#include "KVBLRecovery.h"
#include "SPIBridge.h"

extern "C" {
const int DELAY_MUTIPLE = 60;
BOOL g_bEnableSlib = 0;
}

namespace kvspi {
namespace {

constexpr BYTE kConfig = 0xB0;
constexpr BYTE kDone = 0xF1;
constexpr DWORD kSlibEnabledBit = 0x08;

uint64_t monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint64_t (*g_clock)() = monotonicMs;

// The command goes as [0x5A][cmd][NOT cmd] in one write.
BYTE sendCommand(HANDLE h, BYTE cmd) {
  BYTE frame[3] = {kSync, cmd, static_cast<BYTE>(~cmd)};
  return static_cast<BYTE>(SPI_Write_Data(h, 3, frame));
}

// Every acknowledge is a handshake. Whatever makes it fail, the command
// fails with CMD_FAIL, except the first acknowledge of READ. Only the first
// acknowledge of ACCESS_PERM_UNPROTECT may take the extended time.
BYTE ack(HANDLE h, BYTE cmd, kvbl::AckPoint point) {
  const bool first = point == kvbl::ACK_FIRST;
  const BOOL extended = first && cmd == ACCESS_PERM_UNPROTECT_CMD;
  if (SPI_GetACKOrNACK(h, extended) == SUCCESS) return SUCCESS;
  return first && cmd == READ_CMD ? CMD_NOT_ALLOWED : CMD_FAIL;
}

// Waits before a command's result: the chip computes a CRC or changes the
// security library meanwhile. No wait before the first acknowledge (the
// handshake polls).
void pause(BYTE cmd, kvbl::PausePoint point, const KVBL_Request* rq) {
  if (point != kvbl::PAUSE_BEFORE_RESULT) return;
  switch (cmd) {
    case FIRMWARE_CRC_CMD: kvbl::Sleep(rq->_length > 9 ? 1000u : 10u); break;
    case ENABLE_SLIB_CMD: kvbl::Sleep(static_cast<unsigned>(DELAY_MUTIPLE)); break;
    case DISABLE_SLIB_CMD: kvbl::Sleep(20u * DELAY_MUTIPLE); break;
    default: break;
  }
}

void onSlibStatus(DWORD slibStatus) { g_bEnableSlib = (slibStatus & kSlibEnabledBit) ? 1 : 0; }

BYTE lineWrite(HANDLE h, const BYTE* data, WORD n) { return WriteData(kSpiCodes, h, data, n); }

BYTE lineRead(HANDLE h, BYTE* data, WORD n) { return ReadData(kSpiCodes, h, data, n); }

BYTE lineReadBlock(HANDLE h, BYTE* data, WORD cap, WORD* got) {
  return VariableRead(kSpiCodes, h, data, cap, got);
}

}  // namespace

uint64_t TimeMilliSecond() { return g_clock(); }

void SetClockForTests(uint64_t (*clock)()) { g_clock = clock ? clock : monotonicMs; }

BYTE SPI_GetACKOrNACK(HANDLE hCOM, BOOL bExtendedDelay) {
  const uint64_t limit = (bExtendedDelay && g_bEnableSlib) ? kExtendedLimitMs : kAckLimitMs;
  BYTE zero = 0x00;
  BYTE r = SPI_Single_Write_Data(hCOM, 1, &zero);
  if (r != SUCCESS) return r;
  const uint64_t start = TimeMilliSecond();
  BYTE polled = 0x00;
  kvbl::NoteAnswer(hCOM, -1);
  for (;;) {
    if ((r = SPI_Single_Read_Data(hCOM, 1, &polled)) != SUCCESS) return r;
    if (polled == ACK || polled == NACK) break;
    if (TimeMilliSecond() - start > limit) return CMD_FAIL;
  }
  BYTE mine = ACK, answer = 0x00;
  if ((r = SPI_Write_and_read_Data(hCOM, 1, &mine, 1, &answer)) != SUCCESS) return r;
  // For the failure report: a refusal, or a handshake answer gone wrong.
  kvbl::NoteAnswer(hCOM, polled == NACK ? NACK : answer == kHandshake ? ACK : answer);
  return (polled == ACK && answer == kHandshake) ? SUCCESS : CMD_FAIL;
}

BYTE InitBL(HANDLE hCOM, WORD, DWORD rate, BYTE) {
  BYTE frame[8] = {kConfig,
                   0x2B,
                   0x05,
                   0x01,
                   static_cast<BYTE>(rate >> 24),
                   static_cast<BYTE>(rate >> 16),
                   static_cast<BYTE>(rate >> 8),
                   static_cast<BYTE>(rate)};
  if (kvbl::LineSend(hCOM, frame, sizeof(frame)) != static_cast<int>(sizeof(frame)))
    return SEND_FAIL;
  BYTE ans[2];
  if (kvbl::LineReceive(hCOM, ans, 2) != 2) return READ_FAIL;
  if (ans[0] != kConfig || ans[1] != kDone) return UNREOGNIZED_DEVICE;
  kvbl::Sleep(10);
  return SyncSession(hCOM, 10u * DELAY_MUTIPLE);
}

BYTE SyncSession(HANDLE hCOM, unsigned pauseMs) {
  BYTE sync = kSync, back = 0x00;
  BYTE r = SPI_Write_and_read_Data(hCOM, 1, &sync, 1, &back);
  if (r != SUCCESS) return r;
  if (back != kSyncAnswer) return UNREOGNIZED_DEVICE;
  kvbl::Sleep(pauseMs);
  if (SPI_GetACKOrNACK(hCOM, 0) != SUCCESS) return UNREOGNIZED_DEVICE;
  return SUCCESS;
}

// Whatever is still on its way is dropped and the completion ends any frame
// the chip may be reading (the chip refuses it; as commands its bytes are
// ignored, none is the 0x5A prefix). The sync exchange then starts the
// chip's SPI session afresh, as the bridge start does, and its acknowledge
// shows that the chip listens again. The handshake polls until the chip is
// ready, so the bridge start's fixed pause is not waited here.
BYTE Resync(HANDLE hCOM, const BYTE* completion, WORD n) {
  kvbl::ProbeTimeOut probe(hCOM);
  kvbl::Drain(hCOM);
  const BYTE r = WriteData(kSpiCodes, hCOM, completion, n);
  if (r == SEND_FAIL || r == READ_FAIL) return r;  // a silent bridge
  return SyncSession(hCOM, 0);
}

const kvbl::Flavour kFlavour = [] {
  kvbl::Flavour f =
      kvbl::LineFlavour("SPI", KVBL_INTERFACE_SPI, InitBL, lineWrite, lineRead, lineReadBlock);
  f.sendCommand = sendCommand;
  f.ack = ack;
  f.pause = pause;
  f.getCountIsBlock0 = true;
  f.finalByteIsAck = true;
  f.onSlibStatus = onSlibStatus;
  f.resync = Resync;
  return f;
}();

}  // namespace kvspi
