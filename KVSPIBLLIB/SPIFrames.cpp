// The SPI bridge's frames: the shared bridge framing with the SPI
// sub-command numbers, and the write-then-read exchange of this bridge.
#include <cstring>

#include "BridgeFrames.h"
#include "SPIBridge.h"

namespace kvspi {

const FrameCodes kSpiCodes = {0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13,
                              SPI_Analyse_Result, SPI_CMD_EXEC_ERROR, SPI_DEVICE_BUSY, true};

namespace {
constexpr BYTE kWriteRead = 0x14;
}  // namespace

BYTE SPI_Analyse_Result(BYTE cValue) {
  switch (cValue) {
    case 0xF1: return SUCCESS;
    case 0xFD: return SPI_DEVICE_BUSY;
    case 0xFE: return SPI_INVALID_DATA_PARAM;
    case 0xFF: return SPI_UNRECOGNIZED_CMD;
    default: return SPI_CMD_EXEC_ERROR;
  }
}

BYTE SPI_Single_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return SingleWrite(kSpiCodes, hCOM, pData, Size);
}
BYTE SPI_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return MassWrite(kSpiCodes, hCOM, pData, Size);
}
BYTE SPI_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return SingleRead(kSpiCodes, hCOM, pData, Size);
}
BYTE SPI_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return MassRead(kSpiCodes, hCOM, pData, Size);
}
BYTE SPI_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  WORD got = 0;
  return VariableRead(kSpiCodes, hCOM, pData, Size, &got);
}
int SPI_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return WriteData(kSpiCodes, hCOM, pData, Size);
}
int SPI_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable) {
  if (bVariable) return SPI_Variable_Single_Read_Data(hCOM, Size, pData);
  return ReadData(kSpiCodes, hCOM, pData, Size);
}

BYTE SPI_Write_and_read_Data(HANDLE hCOM, BYTE SendSize, LPBYTE pSendData, BYTE RecvSize,
                             LPBYTE Recv_Buffer) {
  if (SendSize == 0 || pSendData == nullptr) return SEND_FAIL;
  if (RecvSize > 0 && Recv_Buffer == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  BYTE frame[4 + 255] = {0xBF, kWriteRead, 0x00, SendSize};
  std::memcpy(frame + 4, pSendData, SendSize);
  return DataExchange(kSpiCodes, hCOM, frame, 4u + SendSize, kWriteRead, Recv_Buffer, RecvSize);
}

}  // namespace kvspi
