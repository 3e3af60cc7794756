// Recovery of failed commands, one mechanism for every transport. The command
// layer notes each host frame of the command in flight and the byte read
// where an acknowledge was due. When a command fails on the line (a time-out,
// a NACK, a damaged answer, a bridge error status), the flavour brings the
// line back in step (Flavour::resync) with a completion built from what was
// sent (KVBLResync.h), and the command is sent again, at most kMaxRepeats
// times. What happens to a command whose last frame may already have reached
// the chip depends on its class (ClassOf). A chip that does not answer the
// resynchronisation at all has stalled: the program's reset handler, when it
// set one, restarts it; otherwise the command fails. Nothing of this runs,
// and not one byte more is sent, while commands succeed.
#ifndef KVBLRECOVERY_H
#define KVBLRECOVERY_H

#include "KVBL.h"
#include "KVBLFlavour.h"

namespace kvbl {

constexpr int kMaxRepeats = 3;

enum class RepeatClass : BYTE {
  Repeat,  // sent again: doing it twice leaves the chip as doing it once
  Reread,  // the chip's state is read back and decides (writes outside flash)
  Never,   // the command fails as it did (the chip may have acted on it)
};
// The class of a command once its last frame may have reached the chip.
// Before that nothing can have run, and the command is sent again, unless
// it is never resynchronised at all (NeverResynchronised).
RepeatClass ClassOf(const KVBL_Request* rq);
// Commands that fail as they did whenever they fail: the ISP-tool notice
// and the sLib commands with their password.
bool NeverResynchronised(BYTE cmd);
// Main flash and the external bank: where a WRITE is repeated.
bool InFlashWindows(DWORD address, DWORD length);

// Trace of the command in flight, kept by the command layer: every host
// frame with the result of its write, and the byte read where an
// acknowledge was due (-1: none arrived).
void NoteFrame(HANDLE h, const BYTE* data, WORD n, BYTE result);
void NoteAnswer(HANDLE h, int byte);

// A port just opened: whatever was known of the chip behind it is forgotten.
void PortOpened(HANDLE h);

// Send_RQ: one attempt through the flavour, recovered as above.
BYTE SendWithRecovery(const Flavour* f, HANDLE h, LPKVBL_Request rq);
// KVBL_Init_BL: the bootloader or bridge start, made again (at most
// kMaxRepeats times) when its answer came wrong or short; a line on which
// nothing answered fails at once.
BYTE StartWithRecovery(const Flavour* f, HANDLE h, WORD addr, DWORD rate, BYTE dutyCycle);

// After a command gave up: whether the same bytes in smaller frames may pass
// (the line damaged or lost answers; the chip neither refused, nor stopped
// answering, nor is the line gone).
bool WorthSmallerFrames(HANDLE h);

// Marks the port's last failure (for KVBL_TakeLastFailure) when a transfer
// gives up for a reason the command layer did not see (reads that never
// agree twice).
void RecordFailure(HANDLE h, BYTE cmd, DWORD address, BYTE cause, BYTE attempts);

}  // namespace kvbl

#endif  // KVBLRECOVERY_H
