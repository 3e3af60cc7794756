// libKVSPIBLLIB: every port speaks through the SPI bridge.
#include "KVSPIBL.h"
#include "SPIBridge.h"

KVBL_SINGLE_FLAVOUR_LIBRARY(kvspi::kFlavour)

extern "C" {
const WORD SPI_FRAME_LENGTH = kvspi::kFrameLength;
}

BYTE SPI_Analyse_Result(BYTE cValue) { return kvspi::SPI_Analyse_Result(cValue); }
int SPI_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvspi::SPI_Write_Data(hCOM, Size, pData);
}
int SPI_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable) {
  return kvspi::SPI_Read_Data(hCOM, Size, pData, bVariable);
}
BYTE SPI_Single_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvspi::SPI_Single_Write_Data(hCOM, Size, pData);
}
BYTE SPI_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvspi::SPI_Mass_Write_Data(hCOM, Size, pData);
}
BYTE SPI_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvspi::SPI_Single_Read_Data(hCOM, Size, pData);
}
BYTE SPI_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvspi::SPI_Mass_Read_Data(hCOM, Size, pData);
}
BYTE SPI_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvspi::SPI_Variable_Single_Read_Data(hCOM, Size, pData);
}
BYTE SPI_Write_and_read_Data(HANDLE hCOM, BYTE SendSize, LPBYTE pSendData, BYTE RecvSize,
                             LPBYTE Recv_Buffer) {
  return kvspi::SPI_Write_and_read_Data(hCOM, SendSize, pSendData, RecvSize, Recv_Buffer);
}
BYTE SPI_GetACKOrNACK(HANDLE hCOM, BOOL bExtendedDelay) {
  return kvspi::SPI_GetACKOrNACK(hCOM, bExtendedDelay);
}
uint64_t TimeMilliSecond() { return kvspi::TimeMilliSecond(); }
