// The CAN bridge library's own exports beside the KVBL_ interface: the
// framing functions (C++ names) and the bridge frame size.
#ifndef KVCANBL_H
#define KVCANBL_H

#include "KVBL.h"

extern "C" {
KVBL_API extern const WORD CAN_FRAME_LENGTH;  // 8
}

KVBL_API BYTE CAN_Analyse_Result(BYTE cValue);
KVBL_API BYTE CAN_Single_Write_Data(HANDLE hCOM, BYTE Cmd, BYTE Size, LPBYTE pData);
KVBL_API BYTE CAN_Single_Read_Data(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData);
KVBL_API BYTE CAN_Variable_Single_Read_Data(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData);

#endif  // KVCANBL_H
