// Framing of a serial bridge whose data frames are [0xBF][sub-command]...
// and whose answers are [0xBF][status] or [0xBF][sub-command][2 bytes][data]:
// single frames up to 60 data bytes, multi-frame ("mass") transfers above,
// and the variable-length read. Nothing here is particular to one bus: a
// bus (I2C, SPI) supplies its sub-command numbers and its status mapping.
#ifndef BRIDGEFRAMES_H
#define BRIDGEFRAMES_H

#include "KVBL.h"

namespace kvbl {

constexpr unsigned kBridgeChunk = 60;  // largest data chunk of one frame

struct FrameCodes {
  BYTE massWriteStart, massWriteChunk, massWriteEnd, singleWrite;
  BYTE massReadStart, massReadChunk, singleRead, variableRead;
  BYTE (*analyse)(BYTE status);  // bridge status -> result code
  BYTE execError;                // result of a status that means nothing known
  BYTE busy;                     // result of the busy status: the frame is sent again
  // Whether the answer to a single write and to a mass write's end frame
  // must begin with 0xBF (else only its status byte counts).
  bool writeAnswerChecked;
};

// Writes of 1..255 bytes (0 or null data: 0xFF). A short write or answer
// of a chunk inside a mass write gives 0xFF.
BYTE SingleWrite(const FrameCodes& c, HANDLE h, const BYTE* data, unsigned n);
BYTE MassWrite(const FrameCodes& c, HANDLE h, const BYTE* data, unsigned n);
BYTE WriteData(const FrameCodes& c, HANDLE h, const BYTE* data, unsigned n);
// Reads of exactly 1..255 bytes (0 or null: SEND_FAIL); nothing is copied
// from an answer that is short or of the wrong kind.
BYTE SingleRead(const FrameCodes& c, HANDLE h, BYTE* out, unsigned n);
BYTE MassRead(const FrameCodes& c, HANDLE h, BYTE* out, unsigned n);
BYTE ReadData(const FrameCodes& c, HANDLE h, BYTE* out, unsigned n);
// The variable read: [0xBF][variableRead] answered [0xBF][variableRead][L]
// and L bytes. *got = the bytes that arrived; a block longer than `cap` is
// taken off the line and refused.
BYTE VariableRead(const FrameCodes& c, HANDLE h, BYTE* out, unsigned cap, WORD* got);

// One frame answered by [0xBF][sub][2 bytes][n data bytes]: sends `frame`
// (short write: SEND_FAIL), then receives the answer into out.
BYTE DataExchange(const FrameCodes& c, HANDLE h, BYTE* frame, unsigned frameLength, BYTE sub,
                  BYTE* out, unsigned n);

}  // namespace kvbl

#endif  // BRIDGEFRAMES_H
