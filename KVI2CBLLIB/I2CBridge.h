// The I2C bridge framing: configuration frame, single/mass/variable writes
// and reads, and the bridge status mapping.
#ifndef I2CBRIDGE_H
#define I2CBRIDGE_H

#include "KVBLFlavour.h"

namespace kvi2c {

constexpr WORD kFrameLength = 60;  // largest data chunk of one bridge frame

BYTE I2C_Analyse_Result(BYTE cValue);
BYTE I2C_Single_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
BYTE I2C_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
BYTE I2C_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
BYTE I2C_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
BYTE I2C_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
// The variable read with the count of data bytes that arrived.
BYTE VariableRead(HANDLE hCOM, BYTE Size, LPBYTE pData, WORD* got);
int I2C_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
int I2C_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable);
BYTE InitBL(HANDLE hCOM, WORD addr, DWORD rate, BYTE dutyCycle);
// Brings the line back in step after a failed command (Flavour::resync).
BYTE Resync(HANDLE hCOM, const BYTE* completion, WORD n);

extern const kvbl::Flavour kFlavour;

}  // namespace kvi2c

#endif  // I2CBRIDGE_H
