// The bootloader protocol directly on a UART: start byte 0x7F, every
// command as [cmd][cmd XOR 0xFF] with the reference phases.
#ifndef USARTFLAVOUR_H
#define USARTFLAVOUR_H

#include "KVBLFlavour.h"

namespace kvusart {

constexpr BYTE kStartByte = 0x7F;

BYTE InitBL(HANDLE hCOM, WORD addr, DWORD rate, BYTE dutyCycle);
// The GET answer has no bridge to give its length: [N][version][N codes],
// read as N, then N + 1 bytes.
BYTE ReadGetBlock(HANDLE hCOM, BYTE* data, WORD cap, WORD* got);
// Brings the line back in step after a failed command (Flavour::resync).
BYTE Resync(HANDLE hCOM, const BYTE* completion, WORD n);

extern const kvbl::Flavour kFlavour;

}  // namespace kvusart

#endif  // USARTFLAVOUR_H
