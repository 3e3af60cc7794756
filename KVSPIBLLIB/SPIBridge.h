// The SPI bridge: framing of the bridge's data frames, the write-then-read
// exchange, the polled acknowledge handshake and the bridge start, and the
// differences of this transport from the reference command sequences.
#ifndef SPIBRIDGE_H
#define SPIBRIDGE_H

#include <cstdint>

#include "BridgeFrames.h"
#include "KVBLFlavour.h"
#include "KVSPIBL.h"

namespace kvspi {

using kvbl::DataExchange;
using kvbl::FrameCodes;
using kvbl::kBridgeChunk;
using kvbl::MassRead;
using kvbl::MassWrite;
using kvbl::ReadData;
using kvbl::SingleRead;
using kvbl::SingleWrite;
using kvbl::VariableRead;
using kvbl::WriteData;

constexpr WORD kFrameLength = kBridgeChunk;
constexpr BYTE kSync = 0x5A;        // bridge start byte, also the command prefix
constexpr BYTE kSyncAnswer = 0xA5;
constexpr BYTE kHandshake = 0x86;   // the chip's answer to the host's ACK
constexpr unsigned kAckLimitMs = 30u * 60u;       // 1.8 s
constexpr unsigned kExtendedLimitMs = 5000u * 60u;  // 300 s

// The SPI sub-command numbers of the bridge framing.
extern const FrameCodes kSpiCodes;

BYTE SPI_Analyse_Result(BYTE cValue);
BYTE SPI_Single_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
BYTE SPI_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
BYTE SPI_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
BYTE SPI_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
BYTE SPI_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
int SPI_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData);
int SPI_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable);
// Full-duplex exchange. An answer that does not bring all RecvSize bytes is
// READ_FAIL: a byte that never arrived is never reported.
BYTE SPI_Write_and_read_Data(HANDLE hCOM, BYTE SendSize, LPBYTE pSendData, BYTE RecvSize,
                             LPBYTE Recv_Buffer);

// Milliseconds of the monotonic clock (the handshake's time limit must not
// move with the wall clock).
uint64_t TimeMilliSecond();
// Polls for ACK/NACK, then completes the handshake: SUCCESS only for an
// ACK answered 0x86; a transport error returns its code; CMD_FAIL otherwise.
BYTE SPI_GetACKOrNACK(HANDLE hCOM, BOOL bExtendedDelay);
BYTE InitBL(HANDLE hCOM, WORD addr, DWORD rate, BYTE dutyCycle);
// The second half of the bridge start: the sync exchange 0x5A/0xA5 that
// starts the chip's SPI session afresh, a pause, and the acknowledge.
BYTE SyncSession(HANDLE hCOM, unsigned pauseMs);
// Brings the line back in step after a failed command (Flavour::resync).
BYTE Resync(HANDLE hCOM, const BYTE* completion, WORD n);

// Replaces the clock of the handshake (null: the monotonic clock).
void SetClockForTests(uint64_t (*clock)());

extern const kvbl::Flavour kFlavour;

}  // namespace kvspi

#endif  // SPIBRIDGE_H
