#include "I2CBridge.h"

#include <cstring>

#include "BridgeFrames.h"
#include "KVBLPorts.h"
#include "KVBLResync.h"

namespace kvi2c {
namespace {

constexpr BYTE kConfig = 0xB0;
constexpr BYTE kDone = 0xF1;

bool sendAll(HANDLE h, BYTE* frame, size_t n) {
  return kvbl::LineSend(h, frame, n) == static_cast<int>(n);
}

// Receives exactly n bytes; false on a short answer or a read error.
bool receiveAll(HANDLE h, BYTE* buf, size_t n) {
  return kvbl::LineReceive(h, buf, n) == static_cast<int>(n);
}

// The data frames' sub-commands 0x00-0x07 in the order of FrameCodes. A
// single write's answer and a mass write's end answer count by their status
// byte alone.
const kvbl::FrameCodes kI2cCodes = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                    I2C_Analyse_Result, I2C_CMD_EXEC_ERROR, I2C_DEVICE_BUSY, false};

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
  return kvbl::SingleWrite(kI2cCodes, hCOM, pData, Size);
}

BYTE I2C_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvbl::MassWrite(kI2cCodes, hCOM, pData, Size);
}

BYTE I2C_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvbl::SingleRead(kI2cCodes, hCOM, pData, Size);
}

BYTE I2C_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvbl::MassRead(kI2cCodes, hCOM, pData, Size);
}

BYTE VariableRead(HANDLE hCOM, BYTE Size, LPBYTE pData, WORD* got) {
  return kvbl::VariableRead(kI2cCodes, hCOM, pData, Size, got);
}

BYTE I2C_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  WORD got = 0;
  return VariableRead(hCOM, Size, pData, &got);
}

int I2C_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvbl::WriteData(kI2cCodes, hCOM, pData, Size);
}

int I2C_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable) {
  if (bVariable) return I2C_Variable_Single_Read_Data(hCOM, Size, pData);
  return kvbl::ReadData(kI2cCodes, hCOM, pData, Size);
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
