// The completion that brings a chip back to waiting for a command after a
// failed exchange. After a time-out, a NACK or a damaged answer the chip is
// either waiting for a command or for one frame of the command in progress
// (from its first byte: a frame reaches the chip whole or not at all). The
// host knows which frames those can be. The completion is a byte string that
// every such frame check refuses, so the chip answers NACK and executes
// nothing, and that is no command either: no byte in it is followed by its
// complement, and it holds neither the USART start byte 0x7F, nor the SPI
// command prefix 0x5A, nor 0x80 (whose complement is 0x7F).
// docs/protocol.md walks through the frames one by one.
#ifndef KVBLRESYNC_H
#define KVBLRESYNC_H

#include <cstddef>

#include "KVBL.h"

namespace kvbl {

// How the chip checks one host frame of the reference sequences.
enum class FrameCheck : BYTE {
  Xor,         // `length` bytes, the last the XOR of the others (address frames, ...)
  Complement,  // [n][NOT n] (READ length, protection level)
  CrcCount,    // [M high][M low][NOT (M high XOR M low)]
  CountXor,    // [n-1][n bytes][XOR of all before] (WRITE data, protection bits)
  EraseList,   // CountXor, or [0xFF][0x00]: the global erase
  ExtEraseList,  // [(n-1) high][(n-1) low][2n bytes][XOR], or a special code
  Equal,       // [f][f] (remap)
  IspTool,     // the five fixed bytes of the ISP-tool command
};

struct FrameRule {
  FrameCheck check;
  BYTE length;  // for Xor
};

constexpr size_t kMaxFrameRules = 2;       // parameter frames of one command
constexpr size_t kMaxCompletion = 300;     // longest completion built

// The parameter frames of a command in the reference sequences, in order
// (the command pair itself is frame 0 and has no rule here). Returns their
// number.
size_t ParameterFrames(const KVBL_Request* rq, FrameRule out[kMaxFrameRules]);

// True when a chip that reads `c` (n bytes) as the frame of `rule` has the
// whole frame within those bytes and accepts it. *needs: the frame's length
// once its first bytes tell it (0 while they do not).
bool FrameAccepted(const FrameRule& rule, const BYTE* c, size_t n, size_t* needs);

// Builds the completion against the frames the chip may be waiting for (and
// a waiting command, always). `avoidFirst` (256 flags, may be null) are
// values the first byte must not take: the bytes of the last frame sent, so
// that a chip that lost one byte of it cannot complete it with the first
// byte of the completion either (kept only while the completion stays
// short). Returns its length (at least 2), 0 when no completion fits `cap`.
size_t BuildCompletion(const FrameRule* frames, size_t count, const bool* avoidFirst, BYTE* out,
                       size_t cap);

// After a completion on a link whose chip answers it: reads answers with
// readAnswer until the refusal (NACK), at most three, since acknowledges the
// failed command never read may come first. SUCCESS on the refusal, the
// read's failure, or CMD_FAIL when none of the three refused.
BYTE AwaitRefusal(HANDLE h, BYTE (*readAnswer)(HANDLE h, BYTE* answer));

}  // namespace kvbl

#endif  // KVBLRESYNC_H
