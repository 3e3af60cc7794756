// libKVCANBLLIB: every port speaks through the CAN bridge.
#include "CANBridge.h"
#include "KVCANBL.h"

KVBL_SINGLE_FLAVOUR_LIBRARY(kvcan::kFlavour)

extern "C" {
const WORD CAN_FRAME_LENGTH = kvcan::kFrameLength;
}

BYTE CAN_Analyse_Result(BYTE cValue) { return kvcan::CAN_Analyse_Result(cValue); }
BYTE CAN_Single_Write_Data(HANDLE hCOM, BYTE Cmd, BYTE Size, LPBYTE pData) {
  return kvcan::CAN_Single_Write_Data(hCOM, Cmd, Size, pData);
}
BYTE CAN_Single_Read_Data(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData) {
  return kvcan::CAN_Single_Read_Data(hCOM, cmd, Size, pData);
}
BYTE CAN_Variable_Single_Read_Data(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData) {
  return kvcan::CAN_Variable_Single_Read_Data(hCOM, cmd, Size, pData);
}
