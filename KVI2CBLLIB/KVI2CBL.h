// The I2C bridge library's own exports beside the KVBL_ interface: the
// framing functions (C++ names) and the bridge chunk size.
#ifndef KVI2CBL_H
#define KVI2CBL_H

#include "KVBL.h"

extern "C" {
KVBL_API extern const WORD I2C_FRAME_LENGTH;  // 60
}

KVBL_API BYTE I2C_Analyse_Result(BYTE cValue);
KVBL_API int I2C_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API int I2C_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable);
KVBL_API BYTE I2C_Single_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE I2C_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE I2C_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE I2C_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
KVBL_API BYTE I2C_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);

#endif  // KVI2CBL_H
