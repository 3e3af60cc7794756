#include "KVBLResync.h"

#include <cstring>

namespace kvbl {

namespace {

BYTE xorOf(const BYTE* p, size_t n) {
  BYTE x = 0;
  for (size_t i = 0; i < n; ++i) x ^= p[i];
  return x;
}

// Bytes a completion never holds: the USART start byte (a command of its
// own, one byte long), the SPI command prefix, and 0x80 (followed by 0x7F it
// would be a well-formed command pair).
bool excluded(BYTE b) { return b == 0x7F || b == 0x5A || b == 0x80; }

const BYTE kIspTool[5] = {0x02, 0x03, 0x56, 0x4B, 0x1C};

// A frame of `len` bytes checked by its last byte, the XOR of all before.
bool xorFrame(const BYTE* c, size_t n, size_t len, size_t* needs) {
  *needs = len;
  return n >= len && xorOf(c, len - 1) == c[len - 1];
}

}  // namespace

size_t ParameterFrames(const KVBL_Request* rq, FrameRule out[kMaxFrameRules]) {
  const FrameRule address{FrameCheck::Xor, 5};
  switch (rq->_cmd) {
    case READ_CMD:
      out[0] = address;
      out[1] = {FrameCheck::Complement, 2};
      return 2;
    case GO_CMD:
      out[0] = address;
      return 1;
    case WRITE_CMD:
      out[0] = address;
      out[1] = {FrameCheck::CountXor, 0};
      return 2;
    case ERASE_CMD: out[0] = {FrameCheck::EraseList, 0}; return 1;
    case ERASE_EXT_CMD: out[0] = {FrameCheck::ExtEraseList, 0}; return 1;
    case ERASEPROGRAM_PROTECT_CMD: out[0] = {FrameCheck::CountXor, 0}; return 1;
    case FIRMWARE_CRC_CMD:
      out[0] = address;
      out[1] = {FrameCheck::CrcCount, 3};
      return 2;
    case ENABLE_BANK3_CMD: out[0] = {FrameCheck::Xor, 10}; return 1;
    case ENABLE_SLIB_CMD: out[0] = {FrameCheck::Xor, 11}; return 1;
    case DISABLE_SLIB_CMD: out[0] = address; return 1;
    case REMAP_ENABLE_CMD: out[0] = {FrameCheck::Equal, 2}; return 1;
    case ACCESS_LEVEL_PROTECT_CMD: out[0] = {FrameCheck::Complement, 2}; return 1;
    case KV32_ISP_CMD: out[0] = {FrameCheck::IspTool, 5}; return 1;
    default: return 0;  // answered right after the command pair
  }
}

bool FrameAccepted(const FrameRule& rule, const BYTE* c, size_t n, size_t* needs) {
  *needs = 0;
  switch (rule.check) {
    case FrameCheck::Xor: return xorFrame(c, n, rule.length, needs);
    case FrameCheck::Complement:
      *needs = 2;
      return n >= 2 && c[1] == static_cast<BYTE>(~c[0]);
    case FrameCheck::CrcCount:
      *needs = 3;
      return n >= 3 && c[2] == static_cast<BYTE>(~(c[0] ^ c[1]));
    case FrameCheck::EraseList:
      if (n >= 1 && c[0] == 0xFF) {
        *needs = 2;
        return n >= 2 && c[1] == 0x00;
      }
      [[fallthrough]];  // a list of c[0] + 1 page numbers
    case FrameCheck::CountXor:
      if (n < 1) return false;
      return xorFrame(c, n, c[0] + 3u, needs);
    case FrameCheck::ExtEraseList: {
      if (n < 2) return false;
      const unsigned code = static_cast<unsigned>(c[0]) << 8 | c[1];
      if (code == KVBL_ERASE_CODE_BLOCK) return xorFrame(c, n, 7, needs);
      if (code > 0xFEFF) return xorFrame(c, n, 3, needs);
      return xorFrame(c, n, 2 * (code + 1u) + 3u, needs);
    }
    case FrameCheck::Equal:
      *needs = 2;
      return n >= 2 && c[0] == c[1];
    case FrameCheck::IspTool:
      *needs = 5;
      return n >= 5 && std::memcmp(c, kIspTool, 5) == 0;
  }
  return false;
}

namespace {

size_t build(const FrameRule* frames, size_t count, const bool* avoidFirst, BYTE* out, size_t cap) {
  size_t len = 0;
  for (;;) {
    // Done once every frame the chip may be reading is complete (and so
    // refused), and the completion is at least one pair long.
    bool complete = len >= 2;
    for (size_t k = 0; k < count && complete; ++k) {
      size_t needs = 0;
      FrameAccepted(frames[k], out, len, &needs);
      complete = needs != 0 && needs <= len;
    }
    if (complete) return len;
    if (len == cap) return 0;
    bool placed = false;
    for (unsigned v = 0; v < 256 && !placed; ++v) {
      const BYTE b = static_cast<BYTE>(v);
      if (excluded(b)) continue;
      if (len > 0 && b == static_cast<BYTE>(~out[len - 1])) continue;
      if (len == 0 && avoidFirst && avoidFirst[b]) continue;
      out[len] = b;
      placed = true;
      for (size_t k = 0; k < count && placed; ++k) {
        size_t needs = 0;
        // Refused by every frame that this byte completes.
        if (FrameAccepted(frames[k], out, len + 1, &needs) && needs == len + 1) placed = false;
      }
    }
    if (!placed) return 0;
    ++len;
  }
}

}  // namespace

size_t BuildCompletion(const FrameRule* frames, size_t count, const bool* avoidFirst, BYTE* out,
                       size_t cap) {
  const size_t n = build(frames, count, avoidFirst, out, cap);
  if (n != 0 || avoidFirst == nullptr) return n;
  return build(frames, count, nullptr, out, cap);
}

BYTE AwaitRefusal(HANDLE h, BYTE (*readAnswer)(HANDLE h, BYTE* answer)) {
  for (int i = 0; i < 3; ++i) {
    BYTE answer = 0;
    const BYTE r = readAnswer(h, &answer);
    if (r != SUCCESS) return r;
    if (answer == NACK) return SUCCESS;
  }
  return CMD_FAIL;
}

}  // namespace kvbl
