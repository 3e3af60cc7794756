/* SPDX-License-Identifier: MIT */
// libKVCANBLLIB: the programming interface of KVBL.h through a CAN bridge on
// a serial port. Beside it the library exports the protocol variant
// (KVBLAckValue.h), erase/program protection with three parameters, the
// bridge frame size and the bridge framing functions. The framing functions
// have C++ linkage: they are declared only when this file is compiled as C++,
// and C code cannot call them; everything else here is C.
#ifndef KVCANBL_H
#define KVCANBL_H

#include "KVBL.h"
#include "KVBLAckValue.h"

#ifdef __cplusplus
extern "C" {
#endif

KVBL_API extern const WORD CAN_FRAME_LENGTH;  // 8

// [ERASEPROGRAM_PROTECT_CMD]: protects the NbSectors sectors numbered (one
// byte each) in pSectors; adds 1 to Progress on success.
KVBL_API BYTE KVBL_ERASEPROGRAM_PROTECT(HANDLE hCOM, BYTE NbSectors, LPBYTE pSectors);

#ifdef __cplusplus
}  // extern "C"

// ---- the bridge framing (C++ linkage) ------------------------------------
KVBL_API BYTE CAN_Analyse_Result(BYTE cValue);
KVBL_API BYTE CAN_Single_Write_Data(HANDLE hCOM, BYTE Cmd, BYTE Size, LPBYTE pData);
KVBL_API BYTE CAN_Single_Read_Data(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData);
KVBL_API BYTE CAN_Variable_Single_Read_Data(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData);
#endif  // __cplusplus

#endif  // KVCANBL_H
