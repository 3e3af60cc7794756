/* SPDX-License-Identifier: MIT */
// libKVI2CBLLIB: the programming interface of KVBL.h through an I2C bridge
// on a serial port. Beside it the library exports the protocol variant
// (KVBLAckValue.h), erase/program protection with three parameters, the
// bridge chunk size and the bridge framing functions. The framing functions
// have C++ linkage: they are declared only when this file is compiled as C++,
// and C code cannot call them; everything else here is C.
#ifndef KVI2CBL_H
#define KVI2CBL_H

#include "KVBL.h"
#include "KVBLAckValue.h"

#ifdef __cplusplus
extern "C" {
#endif

KVBL_API extern const WORD I2C_FRAME_LENGTH;  // 60

// [ERASEPROGRAM_PROTECT_CMD]: protects the NbSectors sectors numbered (one
// byte each) in pSectors; adds 1 to Progress on success.
KVBL_API BYTE KVBL_ERASEPROGRAM_PROTECT(HANDLE hCOM, BYTE NbSectors, LPBYTE pSectors);

#ifdef __cplusplus
}  // extern "C"

// ---- the bridge framing (C++ linkage) ------------------------------------
KVBL_API BYTE I2C_Analyse_Result(BYTE cValue);
KVBL_API int I2C_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API int I2C_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable);
KVBL_API BYTE I2C_Single_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE I2C_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE I2C_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE I2C_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE I2C_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
#endif  // __cplusplus

#endif  // KVI2CBL_H
