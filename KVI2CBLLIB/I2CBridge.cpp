#include "I2CBridge.h"

#include <cstring>

#include "KVBLPorts.h"
#include "KVBLResync.h"

namespace kvi2c {
namespace {

constexpr BYTE kConfig = 0xB0;
constexpr BYTE kData = 0xBF;
constexpr BYTE kDone = 0xF1;

enum Sub : BYTE {
  MASS_WRITE_START = 0x00,
  MASS_WRITE_CHUNK = 0x01,
  MASS_WRITE_END = 0x02,
  SINGLE_WRITE = 0x03,
  MASS_READ_START = 0x04,
  MASS_READ_CHUNK = 0x05,
  SINGLE_READ = 0x06,
  VARIABLE_READ = 0x07,
};

bool sendAll(HANDLE h, BYTE* frame, size_t n) {
  return kvbl::LineSend(h, frame, n) == static_cast<int>(n);
}

// Receives exactly n bytes; false on a short answer or a read error.
bool receiveAll(HANDLE h, BYTE* buf, size_t n) {
  return kvbl::LineReceive(h, buf, n) == static_cast<int>(n);
}

// An answer that is not the expected frame never counts as success, even
// when its status byte reads "done".
BYTE refusal(BYTE status) {
  const BYTE r = I2C_Analyse_Result(status);
  return r == SUCCESS ? I2C_CMD_EXEC_ERROR : r;
}

// Sends a frame answered by [0xBF][status]. With `strict` the answer must
// be [0xBF][0xF1] exactly to succeed. A busy bridge did nothing with the
// frame: it is sent again.
BYTE statusExchange(HANDLE h, BYTE* frame, size_t n, bool strict) {
  return kvbl::WhileBusy(I2C_DEVICE_BUSY, [&]() -> BYTE {
    if (!sendAll(h, frame, n)) return SEND_FAIL;
    BYTE ans[2];
    if (!receiveAll(h, ans, 2)) return READ_FAIL;
    if (strict && ans[0] != kData) return refusal(ans[1]);
    return I2C_Analyse_Result(ans[1]);
  });
}

// Sends a read request and receives [0xBF][sub][2 bytes][n data bytes] into
// out; a busy bridge is asked again.
BYTE readExchange(HANDLE h, BYTE* req, BYTE sub, BYTE* out, unsigned n) {
  return kvbl::WhileBusy(I2C_DEVICE_BUSY, [&]() -> BYTE {
    if (!sendAll(h, req, 4)) return SEND_FAIL;
    BYTE ans[4 + 255];
    if (!receiveAll(h, ans, 4u + n)) return READ_FAIL;
    if (ans[0] != kData || ans[1] != sub) return refusal(ans[1]);
    std::memcpy(out, ans + 4, n);
    return SUCCESS;
  });
}

BYTE variableReadOnce(HANDLE hCOM, BYTE Size, LPBYTE pData, WORD* got);

}  // namespace

BYTE I2C_Analyse_Result(BYTE cValue) {
  switch (cValue) {
    case 0xF1: return SUCCESS;
    case 0xFD: return I2C_DEVICE_BUSY;
    case 0xFE: return I2C_INVALID_DATA_PARAM;
    case 0xFF: return I2C_UNRECOGNIZED_CMD;
    default: return I2C_CMD_EXEC_ERROR;
  }
}

BYTE I2C_Single_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  if (Size == 0 || pData == nullptr) return CHUNK_FAIL;
  BYTE frame[4 + 255];
  frame[0] = kData;
  frame[1] = SINGLE_WRITE;
  frame[2] = 0x00;
  frame[3] = Size;
  std::memcpy(frame + 4, pData, Size);
  return statusExchange(hCOM, frame, 4u + Size, false);
}

BYTE I2C_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  if (Size == 0 || pData == nullptr) return CHUNK_FAIL;
  BYTE start[4] = {kData, MASS_WRITE_START, 0x00, Size};
  BYTE r = statusExchange(hCOM, start, 4, true);
  if (r != SUCCESS) return r;
  for (unsigned off = 0; off < Size;) {
    const unsigned n = Size - off < kFrameLength ? Size - off : kFrameLength;
    BYTE frame[4 + kFrameLength];
    frame[0] = kData;
    frame[1] = MASS_WRITE_CHUNK;
    frame[2] = static_cast<BYTE>(n >> 8);
    frame[3] = static_cast<BYTE>(n);
    std::memcpy(frame + 4, pData + off, n);
    r = kvbl::WhileBusy(I2C_DEVICE_BUSY, [&]() -> BYTE {
      if (!sendAll(hCOM, frame, 4 + n)) return CHUNK_FAIL;
      BYTE ans[2];
      if (!receiveAll(hCOM, ans, 2)) return CHUNK_FAIL;
      if (ans[0] != kData || ans[1] != kDone) return refusal(ans[1]);
      return SUCCESS;
    });
    if (r != SUCCESS) return r;
    off += n;
  }
  BYTE end[2] = {kData, MASS_WRITE_END};
  return statusExchange(hCOM, end, 2, false);
}

BYTE I2C_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  if (Size == 0 || pData == nullptr) return SEND_FAIL;
  BYTE req[4] = {kData, SINGLE_READ, 0x00, Size};
  return readExchange(hCOM, req, SINGLE_READ, pData, Size);
}

BYTE I2C_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  if (Size == 0 || pData == nullptr) return SEND_FAIL;
  BYTE start[4] = {kData, MASS_READ_START, 0x00, Size};
  BYTE r = statusExchange(hCOM, start, 4, true);
  if (r != SUCCESS) return r;
  for (unsigned off = 0; off < Size;) {
    const unsigned n = Size - off < kFrameLength ? Size - off : kFrameLength;
    BYTE req[4] = {kData, MASS_READ_CHUNK, static_cast<BYTE>(n >> 8), static_cast<BYTE>(n)};
    if ((r = readExchange(hCOM, req, MASS_READ_CHUNK, pData + off, n)) != SUCCESS) return r;
    off += n;
  }
  return SUCCESS;
}

BYTE VariableRead(HANDLE hCOM, BYTE Size, LPBYTE pData, WORD* got) {
  *got = 0;
  if (Size == 0 || pData == nullptr) return SEND_FAIL;
  return kvbl::WhileBusy(I2C_DEVICE_BUSY, [&] { return variableReadOnce(hCOM, Size, pData, got); });
}

namespace {

BYTE variableReadOnce(HANDLE hCOM, BYTE Size, LPBYTE pData, WORD* got) {
  BYTE req[2] = {kData, VARIABLE_READ};
  if (!sendAll(hCOM, req, 2)) return SEND_FAIL;
  BYTE head[3];
  const int n = kvbl::LineReceive(hCOM, head, 3);
  if (n < 0) return READ_FAIL;
  if (n < 2) return READ_FAIL;  // no status arrived
  if (head[0] != kData || head[1] != VARIABLE_READ) return refusal(head[1]);
  if (n < 3) return READ_FAIL;  // the length never arrived
  const BYTE len = head[2];
  BYTE block[255];
  const int m = len ? kvbl::LineReceive(hCOM, block, len) : 0;
  if (m < 0) return READ_FAIL;
  // A block longer than the caller's buffer is refused (its bytes were
  // taken off the line above so they cannot pass for the next answer).
  if (len > Size) return READ_FAIL;
  std::memcpy(pData, block, static_cast<size_t>(m));
  *got = static_cast<WORD>(m);
  return SUCCESS;
}

}  // namespace

BYTE I2C_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  WORD got = 0;
  return VariableRead(hCOM, Size, pData, &got);
}

int I2C_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return Size <= kFrameLength ? I2C_Single_Write_Data(hCOM, Size, pData)
                              : I2C_Mass_Write_Data(hCOM, Size, pData);
}

int I2C_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable) {
  if (bVariable) return I2C_Variable_Single_Read_Data(hCOM, Size, pData);
  return Size <= kFrameLength ? I2C_Single_Read_Data(hCOM, Size, pData)
                              : I2C_Mass_Read_Data(hCOM, Size, pData);
}

BYTE InitBL(HANDLE hCOM, WORD addr, DWORD rate, BYTE dutyCycle) {
  BYTE frame[11] = {kConfig,
                    0x29,
                    0x08,
                    0x00,
                    static_cast<BYTE>(addr >> 8),
                    static_cast<BYTE>(addr),
                    static_cast<BYTE>(rate >> 24),
                    static_cast<BYTE>(rate >> 16),
                    static_cast<BYTE>(rate >> 8),
                    static_cast<BYTE>(rate),
                    dutyCycle};
  if (!sendAll(hCOM, frame, sizeof(frame))) return SEND_FAIL;
  BYTE ans[2];
  if (!receiveAll(hCOM, ans, 2)) return READ_FAIL;
  if (ans[0] != kConfig || ans[1] != kDone) return UNREOGNIZED_DEVICE;
  return SUCCESS;
}

namespace {

BYTE lineWrite(HANDLE h, const BYTE* data, WORD n) {
  if (n > 255) return INPUT_PARAMS_ERROR;
  BYTE buf[255];
  std::memcpy(buf, data, n);
  return static_cast<BYTE>(I2C_Write_Data(h, static_cast<BYTE>(n), buf));
}

BYTE lineRead(HANDLE h, BYTE* data, WORD n) {
  if (n > 255) return INPUT_PARAMS_ERROR;
  return static_cast<BYTE>(I2C_Read_Data(h, static_cast<BYTE>(n), data, 0));
}

BYTE lineReadBlock(HANDLE h, BYTE* data, WORD cap, WORD* got) {
  return VariableRead(h, static_cast<BYTE>(cap > 255 ? 255 : cap), data, got);
}

}  // namespace

// Whatever is still on its way is dropped, the completion goes to the chip
// as one write, and the chip refuses it. An acknowledge it gave before,
// which the failed command never read, may come before that refusal.
BYTE Resync(HANDLE hCOM, const BYTE* completion, WORD n) {
  kvbl::ProbeTimeOut probe(hCOM);
  kvbl::Drain(hCOM);
  const BYTE r = lineWrite(hCOM, completion, n);
  if (r != SUCCESS) return r;
  return kvbl::AwaitRefusal(hCOM, [](HANDLE h, BYTE* answer) { return lineRead(h, answer, 1); });
}

const kvbl::Flavour kFlavour = [] {
  kvbl::Flavour f =
      kvbl::LineFlavour("I2C", KVBL_INTERFACE_I2C, InitBL, lineWrite, lineRead, lineReadBlock);
  f.resync = Resync;
  return f;
}();

}  // namespace kvi2c
