// The CAN bridge: every message names the bootloader command in the bridge
// frame and carries at most 8 data bytes, so parameters travel without the
// command byte and without XOR bytes, cut into 8-byte frames. This
// transport has command sequences of its own (CANRequest.cpp).
#ifndef CANBRIDGE_H
#define CANBRIDGE_H

#include "KVBLFlavour.h"

namespace kvcan {

constexpr WORD kFrameLength = 8;       // data bytes per bridge frame
constexpr unsigned kSpecialEraseMs = 3000;  // between the two acknowledges of a special erase
constexpr BYTE kResyncCode = 0x7E;  // a code no chip knows (Resync)

BYTE CAN_Analyse_Result(BYTE cValue);
// Size 0 sends the bare command [0xBF][0x08][Cmd][0x00].
BYTE CAN_Single_Write_Data(HANDLE hCOM, BYTE Cmd, BYTE Size, LPBYTE pData);
BYTE CAN_Single_Read_Data(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData);
BYTE CAN_Variable_Single_Read_Data(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData);
// The variable read with the count of data bytes that arrived.
BYTE VariableRead(HANDLE hCOM, BYTE cmd, BYTE Size, LPBYTE pData, WORD* got);
BYTE InitBL(HANDLE hCOM, WORD p1, DWORD speed, BYTE p2);

// Names the command whose frames the line functions of kFlavour carry next.
void SetCommandCode(HANDLE hCOM, BYTE cmd);
// The command sequences of this transport (the port must be open).
BYTE SendRQ(HANDLE hCOM, LPKVBL_Request rq);
// The codes this transport recognises in a GET answer and carries.
bool KnowsCode(BYTE code);
// Brings the line back in step after a failed command (Flavour::resync);
// this transport needs no completion.
BYTE Resync(HANDLE hCOM, const BYTE* completion, WORD n);
// The host frames of a command on CAN (Flavour::frames).
BYTE Frames(const KVBL_Request* rq);

extern const kvbl::Flavour kFlavour;

}  // namespace kvcan

#endif  // CANBRIDGE_H
