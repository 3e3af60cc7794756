// The bridge framing functions a bridge library exports (C++ linkage, as its
// header declares them), each forwarding to the flavour's own, for the
// prefix P (I2C, SPI) and the flavour namespace ns:
//     KVBL_BRIDGE_FRAMING_EXPORTS(SPI, kvspi)
#ifndef KVBLBRIDGEEXPORTS_H
#define KVBLBRIDGEEXPORTS_H

#define KVBL_BRIDGE_FRAMING_EXPORTS(P, ns)                                                       \
  extern "C" {                                                                                   \
  const WORD P##_FRAME_LENGTH = ns::kFrameLength;                                                \
  }                                                                                              \
  BYTE P##_Analyse_Result(BYTE cValue) { return ns::P##_Analyse_Result(cValue); }               \
  int P##_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {                                     \
    return ns::P##_Write_Data(hCOM, Size, pData);                                                \
  }                                                                                              \
  int P##_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable) {                      \
    return ns::P##_Read_Data(hCOM, Size, pData, bVariable);                                      \
  }                                                                                              \
  BYTE P##_Single_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {                             \
    return ns::P##_Single_Write_Data(hCOM, Size, pData);                                         \
  }                                                                                              \
  BYTE P##_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {                               \
    return ns::P##_Mass_Write_Data(hCOM, Size, pData);                                           \
  }                                                                                              \
  BYTE P##_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {                              \
    return ns::P##_Single_Read_Data(hCOM, Size, pData);                                          \
  }                                                                                              \
  BYTE P##_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {                                \
    return ns::P##_Mass_Read_Data(hCOM, Size, pData);                                            \
  }                                                                                              \
  BYTE P##_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {                     \
    return ns::P##_Variable_Single_Read_Data(hCOM, Size, pData);                                 \
  }

#endif
