/* SPDX-License-Identifier: MIT */
// libKVSPIBLLIB: the programming interface of KVBL.h through an SPI bridge
// on a serial port. Beside it the library exports erase/program protection
// with three parameters, the bridge chunk size, the wait multiplier, the
// security-library flag and the bridge framing functions with the polled
// acknowledge handshake and its clock. The framing functions have C++
// linkage: they are declared only when this file is compiled as C++, and C
// code cannot call them; everything else here is C. This link has no
// protocol variant (no ACK_VALUE, no GetAckValue).
#ifndef KVSPIBL_H
#define KVSPIBL_H

#include "KVBL.h"

#ifdef __cplusplus
extern "C" {
#endif

KVBL_API extern const WORD SPI_FRAME_LENGTH;  // 60
// Millisecond multiplier of every wait of this transport (60).
KVBL_API extern const int DELAY_MUTIPLE;
// True when the last KVBL_GetSlibStatus reported the security library on.
KVBL_API extern BOOL g_bEnableSlib;

// [ERASEPROGRAM_PROTECT_CMD]: protects the NbSectors sectors numbered (one
// byte each) in pSectors; adds 1 to Progress on success.
KVBL_API BYTE KVBL_ERASEPROGRAM_PROTECT(HANDLE hCOM, BYTE NbSectors, LPBYTE pSectors);

#ifdef __cplusplus
}  // extern "C"

// ---- the bridge framing (C++ linkage) ------------------------------------
KVBL_API BYTE SPI_Analyse_Result(BYTE cValue);
KVBL_API int SPI_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API int SPI_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable);
KVBL_API BYTE SPI_Single_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE SPI_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE SPI_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE SPI_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE SPI_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE SPI_Write_and_read_Data(HANDLE hCOM, BYTE SendSize, LPBYTE pSendData,
                                      BYTE RecvSize, LPBYTE Recv_Buffer);
KVBL_API BYTE SPI_GetACKOrNACK(HANDLE hCOM, BOOL bExtendedDelay);
// Milliseconds of the monotonic clock.
KVBL_API uint64_t TimeMilliSecond();
#endif  // __cplusplus

#endif  // KVSPIBL_H
