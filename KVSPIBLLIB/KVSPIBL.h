// The SPI bridge library's own exports beside the KVBL_ interface: the
// framing functions (C++ names), the handshake, its clock and the bridge
// chunk size.
#ifndef KVSPIBL_H
#define KVSPIBL_H

#include <cstdint>

#include "KVBL.h"

extern "C" {
KVBL_API extern const WORD SPI_FRAME_LENGTH;  // 60
KVBL_API extern const int DELAY_MUTIPLE;       // 60
KVBL_API extern BOOL g_bEnableSlib;
}

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

#endif  // KVSPIBL_H
