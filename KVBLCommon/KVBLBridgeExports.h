// The bridge framing functions a bridge library exports (C++ linkage, as its
// header declares them), each forwarding to the flavour's own, for the
// prefix P (I2C, SPI) and the flavour namespace ns:
//     KVBL_BRIDGE_FRAMING_EXPORTS(SPI, kvspi)
#ifndef KVBLBRIDGEEXPORTS_H
#define KVBLBRIDGEEXPORTS_H

// One framing function of the (HANDLE, BYTE Size, LPBYTE pData) form.
#define KVBL_BRIDGE_FORWARD(R, P, ns, name) \
  R P##name(HANDLE hCOM, BYTE Size, LPBYTE pData) { return ns::P##name(hCOM, Size, pData); }

#define KVBL_BRIDGE_FRAMING_EXPORTS(P, ns)                                     \
  extern "C" {                                                                 \
  const WORD P##_FRAME_LENGTH = ns::kFrameLength;                              \
  }                                                                            \
  BYTE P##_Analyse_Result(BYTE cValue) { return ns::P##_Analyse_Result(cValue); } \
  int P##_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable) {    \
    return ns::P##_Read_Data(hCOM, Size, pData, bVariable);                    \
  }                                                                            \
  KVBL_BRIDGE_FORWARD(int, P, ns, _Write_Data)                                 \
  KVBL_BRIDGE_FORWARD(BYTE, P, ns, _Single_Write_Data)                         \
  KVBL_BRIDGE_FORWARD(BYTE, P, ns, _Mass_Write_Data)                           \
  KVBL_BRIDGE_FORWARD(BYTE, P, ns, _Single_Read_Data)                          \
  KVBL_BRIDGE_FORWARD(BYTE, P, ns, _Mass_Read_Data)                            \
  KVBL_BRIDGE_FORWARD(BYTE, P, ns, _Variable_Single_Read_Data)

#endif
