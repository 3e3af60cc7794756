// libKVI2CBLLIB: every port speaks through the I2C bridge.
#include "I2CBridge.h"
#include "KVI2CBL.h"

KVBL_SINGLE_FLAVOUR_LIBRARY(kvi2c::kFlavour)

extern "C" {
const WORD I2C_FRAME_LENGTH = kvi2c::kFrameLength;
}

BYTE I2C_Analyse_Result(BYTE cValue) { return kvi2c::I2C_Analyse_Result(cValue); }
int I2C_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvi2c::I2C_Write_Data(hCOM, Size, pData);
}
int I2C_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable) {
  return kvi2c::I2C_Read_Data(hCOM, Size, pData, bVariable);
}
BYTE I2C_Single_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvi2c::I2C_Single_Write_Data(hCOM, Size, pData);
}
BYTE I2C_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvi2c::I2C_Mass_Write_Data(hCOM, Size, pData);
}
BYTE I2C_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvi2c::I2C_Single_Read_Data(hCOM, Size, pData);
}
BYTE I2C_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvi2c::I2C_Mass_Read_Data(hCOM, Size, pData);
}
BYTE I2C_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return kvi2c::I2C_Variable_Single_Read_Data(hCOM, Size, pData);
}
