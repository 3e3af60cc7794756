// Frames of the CAN bridge: write, read and variable read of one command's
// data, the bridge start and the speed change.
#include "CANBridge.h"

#include <cstring>

#include "KVBLCall.h"
#include "KVBLPorts.h"
#include "KVBLResync.h"

namespace kvcan {
namespace {

constexpr BYTE kConfig = 0xB0;
constexpr BYTE kData = 0xBF;
constexpr BYTE kDone = 0xF1;

enum Sub : BYTE { WRITE = 0x08, READ = 0x09, VARIABLE_READ = 0x0A };

bool sent(HANDLE h, BYTE* frame, size_t n) { return kvbl::LineSend(h, frame, n) == static_cast<int>(n); }

// A "done" status in an answer of the wrong kind is still a failure.
BYTE failure(BYTE status) {
  const BYTE r = CAN_Analyse_Result(status);
  return r == SUCCESS ? CAN_CMD_EXEC_ERROR : r;
}

// The command code that the line functions put in their frames: the one of
// the request in flight on the port.
BYTE g_code[KVBL_MAX_PORTS];

BYTE codeOf(HANDLE h) {
  const int port = kvbl::PortOf(h);
  return port < 0 ? 0 : g_code[port];
}

// Frames of at most 8 data bytes; none (n = 0) sends the bare command.
BYTE writeFrames(HANDLE h, BYTE cmd, const BYTE* data, unsigned n) {
  if (n > 255 || (n > 0 && data == nullptr)) return CHUNK_FAIL;
  unsigned off = 0;
  do {
    const unsigned k = n - off < kFrameLength ? n - off : kFrameLength;
    BYTE frame[4 + kFrameLength] = {kData, WRITE, cmd, static_cast<BYTE>(k)};
    if (k) std::memcpy(frame + 4, data + off, k);
    // A busy bridge did nothing with the frame: it is sent again.
    const BYTE r = kvbl::WhileBusy(CAN_DEVICE_BUSY, [&]() -> BYTE {
      if (!sent(h, frame, 4 + k)) return CHUNK_FAIL;
      BYTE ans[2];
      if (kvbl::LineReceive(h, ans, 2) != 2) return CHUNK_FAIL;
      if (ans[0] != kData || ans[1] != kDone) return failure(ans[1]);
      return SUCCESS;
    });
    if (r != SUCCESS) return r;
    off += k;
  } while (off < n);
  return SUCCESS;
}

BYTE readFrames(HANDLE h, BYTE cmd, BYTE* out, unsigned n) {
  if (n == 0 || n > 255 || out == nullptr) return SEND_FAIL;
  for (unsigned off = 0; off < n;) {
    const unsigned k = n - off < kFrameLength ? n - off : kFrameLength;
    BYTE req[4] = {kData, READ, cmd, static_cast<BYTE>(k)};
    const BYTE r = kvbl::WhileBusy(CAN_DEVICE_BUSY, [&]() -> BYTE {
      if (!sent(h, req, 4)) return SEND_FAIL;
      BYTE ans[4 + kFrameLength];
      if (kvbl::LineReceive(h, ans, 4 + k) != static_cast<int>(4 + k)) return READ_FAIL;
      if (ans[0] != kData || ans[1] != READ) return failure(ans[1]);
      std::memcpy(out + off, ans + 4, k);
      return SUCCESS;
    });
    if (r != SUCCESS) return r;
    off += k;
  }
  return SUCCESS;
}

BYTE lineWrite(HANDLE h, const BYTE* data, WORD n) { return writeFrames(h, codeOf(h), data, n); }

BYTE lineRead(HANDLE h, BYTE* data, WORD n) { return readFrames(h, codeOf(h), data, n); }

BYTE lineReadBlock(HANDLE h, BYTE* data, WORD cap, WORD* got) {
  return VariableRead(h, codeOf(h), static_cast<BYTE>(cap > 255 ? 255 : cap), data, got);
}

// KVBL_SetSpeed: SET_SPEED with the speed code, then the bridge follows.
BYTE setSpeed(HANDLE h, DWORD speed) {
  if (!kvbl::IsOpen(kvbl::PortOf(h))) return NO_CON_AVAILABLE;
  BYTE data[2] = {static_cast<BYTE>(speed), 0x00};
  KVBL_Request rq = kvbl::Request(SET_SPEED_CMD);
  rq._length = 2;
  rq._data = data;
  return Send_RQ(h, &rq);
}

}  // namespace

void SetCommandCode(HANDLE h, BYTE cmd) {
  const int port = kvbl::PortOf(h);
  if (port >= 0) g_code[port] = cmd;
}

BYTE CAN_Analyse_Result(BYTE cValue) {
  switch (cValue) {
    case 0xF1: return SUCCESS;
    case 0xFD: return CAN_DEVICE_BUSY;
    case 0xFE: return CAN_INVALID_DATA_PARAM;
    case 0xFF: return CAN_UNRECOGNIZED_CMD;
    default: return CAN_CMD_EXEC_ERROR;
  }
}

BYTE CAN_Single_Write_Data(HANDLE hCOM, BYTE Cmd, BYTE Size, LPBYTE pData) {
  return writeFrames(hCOM, Cmd, pData, Size);
}

BYTE CAN_Single_Read_Data(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData) {
  return readFrames(hCOM, cmd, pData, Size);
}

namespace {

BYTE variableReadOnce(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData, WORD* got) {
  BYTE req[4] = {kData, VARIABLE_READ, cmd, 0x00};
  if (!sent(hCOM, req, 4)) return SEND_FAIL;
  // [0xBF][0x0A][byte][L], then L data bytes (a short block is what arrived).
  BYTE answer[4 + 255];
  const int n = kvbl::LineReceive(hCOM, answer, 4);
  if (n >= 2 && (answer[0] != kData || answer[1] != VARIABLE_READ)) return failure(answer[1]);
  if (n < 4) return READ_FAIL;
  const BYTE len = answer[3];
  const int m = len ? kvbl::LineReceive(hCOM, answer + 4, len) : 0;
  // A block too long for the caller leaves the line all the same.
  if (m < 0 || len > Size) return READ_FAIL;
  std::memcpy(pData, answer + 4, static_cast<size_t>(m));
  *got = static_cast<WORD>(m);
  return SUCCESS;
}

}  // namespace

BYTE VariableRead(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData, WORD* got) {
  *got = 0;
  if (Size == 0 || pData == nullptr) return SEND_FAIL;
  return kvbl::WhileBusy(CAN_DEVICE_BUSY, [&] { return variableReadOnce(hCOM, cmd, Size, pData, got); });
}

BYTE CAN_Variable_Single_Read_Data(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData) {
  WORD got = 0;
  return VariableRead(hCOM, cmd, Size, pData, &got);
}

// The speed code's low byte goes to the bridge unchanged.
BYTE InitBL(HANDLE hCOM, WORD, DWORD speed, BYTE) {
  BYTE frame[6] = {kConfig, 0x29, 0x03, 0x01, static_cast<BYTE>(speed), 0x00};
  if (!sent(hCOM, frame, sizeof(frame))) return SEND_FAIL;
  BYTE ans[2];
  if (kvbl::LineReceive(hCOM, ans, 2) != 2) return READ_FAIL;
  if (ans[0] != kConfig || ans[1] != kDone) return UNREOGNIZED_DEVICE;
  return SUCCESS;
}

// The frames carry no check bytes, so no completion of a frame could be
// refused. But every frame names its command: a chip in the middle of a
// command refuses a frame that names another one and drops the command,
// and a chip waiting for a command refuses one it does not know. A bare
// frame of a code no chip knows is both. Whatever is still on its way is
// dropped first; an acknowledge the failed command never read may come
// before the refusal.
BYTE Resync(HANDLE hCOM, const BYTE*, WORD) {
  kvbl::ProbeTimeOut probe(hCOM);
  kvbl::Drain(hCOM);
  const BYTE r = writeFrames(hCOM, kResyncCode, nullptr, 0);
  if (r != SUCCESS) return r;
  return kvbl::AwaitRefusal(
      hCOM, [](HANDLE h, BYTE* answer) { return readFrames(h, kResyncCode, answer, 1); });
}

BYTE Frames(const KVBL_Request* rq) {
  switch (rq->_cmd) {
    case WRITE_CMD:
    case ERASEPROGRAM_PROTECT_CMD:
    case ENABLE_SLIB_CMD:
      return 2;  // a parameter frame, then the data the chip acts on
    case ERASE_EXT_CMD:
      return rq->_wbSectors > 0xFEFF ? 1 : 2;
    default:
      return 1;  // a bare frame, or one parameter frame
  }
}

bool KnowsCode(BYTE code) {
  switch (code) {
    case ERASE_CMD:
    case ERASEPROGRAM_TEMP_UNPROTECT_CMD:
    case ACCESS_TEMP_UNPROTECT_CMD:
    case ENABLE_BANK3_CMD:
    case KV32_ISP_CMD:
      return false;
    default:
      return true;
  }
}

const kvbl::Flavour kFlavour = [] {
  kvbl::Flavour f =
      kvbl::LineFlavour("CAN", KVBL_INTERFACE_CAN, InitBL, lineWrite, lineRead, lineReadBlock);
  f.setSpeed = setSpeed;
  f.getCountIsBlock0 = true;
  f.knowsCode = KnowsCode;
  f.sendRQ = SendRQ;
  f.resync = Resync;
  f.frames = Frames;
  return f;
}();

}  // namespace kvcan
