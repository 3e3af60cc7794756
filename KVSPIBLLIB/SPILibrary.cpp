// libKVSPIBLLIB: every port speaks through the SPI bridge.
#include "KVBLBridgeExports.h"
#include "KVSPIBL.h"
#include "SPIBridge.h"

KVBL_SINGLE_FLAVOUR_LIBRARY(kvspi::kFlavour)

KVBL_BRIDGE_FRAMING_EXPORTS(SPI, kvspi)

BYTE SPI_Write_and_read_Data(HANDLE hCOM, BYTE SendSize, LPBYTE pSendData, BYTE RecvSize,
                             LPBYTE Recv_Buffer) {
  return kvspi::SPI_Write_and_read_Data(hCOM, SendSize, pSendData, RecvSize, Recv_Buffer);
}
BYTE SPI_GetACKOrNACK(HANDLE hCOM, BOOL bExtendedDelay) {
  return kvspi::SPI_GetACKOrNACK(hCOM, bExtendedDelay);
}
uint64_t TimeMilliSecond() { return kvspi::TimeMilliSecond(); }
