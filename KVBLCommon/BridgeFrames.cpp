#include "BridgeFrames.h"

#include <cstring>

#include "KVBLPorts.h"

namespace kvbl {
namespace {

constexpr BYTE kData = 0xBF;
constexpr BYTE kMaxSize = 255;

bool sent(HANDLE h, BYTE* frame, size_t n) { return LineSend(h, frame, n) == static_cast<int>(n); }

// A status that reads "done" in an answer of the wrong kind is a failure.
BYTE failure(const FrameCodes& c, BYTE status) {
  const BYTE r = c.analyse(status);
  return r == SUCCESS ? c.execError : r;
}

// A frame answered by [0xBF][status], with the results of a short write
// and of a short answer; headChecked: an answer not beginning 0xBF fails. A
// busy bridge did nothing with the frame: it is sent again.
BYTE statusFrame(const FrameCodes& c, HANDLE h, BYTE* frame, size_t n, BYTE shortWrite,
                 BYTE shortAnswer, bool headChecked = true) {
  return WhileBusy(c.busy, [&]() -> BYTE {
    if (!sent(h, frame, n)) return shortWrite;
    BYTE ans[2];
    if (LineReceive(h, ans, 2) != 2) return shortAnswer;
    if (headChecked && ans[0] != kData) return failure(c, ans[1]);
    return c.analyse(ans[1]);
  });
}

BYTE variableReadOnce(const FrameCodes& c, HANDLE h, BYTE* out, unsigned cap, WORD* got) {
  BYTE req[2] = {kData, c.variableRead};
  if (!sent(h, req, 2)) return SEND_FAIL;
  BYTE head[3];
  const int n = LineReceive(h, head, 3);
  if (n < 2) return READ_FAIL;
  if (head[0] != kData || head[1] != c.variableRead) return failure(c, head[1]);
  if (n < 3) return READ_FAIL;  // the length never arrived
  BYTE block[kMaxSize];
  const int m = head[2] ? LineReceive(h, block, head[2]) : 0;
  if (m < 0 || head[2] > cap) return READ_FAIL;
  std::memcpy(out, block, static_cast<size_t>(m));
  *got = static_cast<WORD>(m);
  return SUCCESS;
}

// A mass transfer's start frame [0xBF][sub][0x00][size].
BYTE startFrame(const FrameCodes& c, HANDLE h, BYTE sub, unsigned n) {
  BYTE start[4] = {kData, sub, 0x00, static_cast<BYTE>(n)};
  return statusFrame(c, h, start, 4, SEND_FAIL, READ_FAIL);
}

unsigned chunkOf(unsigned left) { return left < kBridgeChunk ? left : kBridgeChunk; }

}  // namespace

BYTE DataExchange(const FrameCodes& c, HANDLE h, BYTE* frame, unsigned frameLength, BYTE sub,
                  BYTE* out, unsigned n) {
  return WhileBusy(c.busy, [&]() -> BYTE {
    if (!sent(h, frame, frameLength)) return SEND_FAIL;
    BYTE ans[4 + kMaxSize];
    if (LineReceive(h, ans, 4u + n) != static_cast<int>(4u + n)) return READ_FAIL;
    if (ans[0] != kData || ans[1] != sub) return failure(c, ans[1]);
    if (n > 0) std::memcpy(out, ans + 4, n);
    return SUCCESS;
  });
}

BYTE SingleWrite(const FrameCodes& c, HANDLE h, const BYTE* data, unsigned n) {
  if (n == 0 || n > kMaxSize || data == nullptr) return CHUNK_FAIL;
  BYTE frame[4 + kMaxSize] = {kData, c.singleWrite, 0x00, static_cast<BYTE>(n)};
  std::memcpy(frame + 4, data, n);
  return statusFrame(c, h, frame, 4u + n, SEND_FAIL, READ_FAIL, c.writeAnswerChecked);
}

BYTE MassWrite(const FrameCodes& c, HANDLE h, const BYTE* data, unsigned n) {
  if (n == 0 || n > kMaxSize || data == nullptr) return CHUNK_FAIL;
  BYTE r = startFrame(c, h, c.massWriteStart, n);
  if (r != SUCCESS) return r;
  for (unsigned off = 0; off < n;) {
    const unsigned k = chunkOf(n - off);
    BYTE frame[4 + kBridgeChunk] = {kData, c.massWriteChunk, static_cast<BYTE>(k >> 8),
                                    static_cast<BYTE>(k)};
    std::memcpy(frame + 4, data + off, k);
    if ((r = statusFrame(c, h, frame, 4 + k, CHUNK_FAIL, CHUNK_FAIL)) != SUCCESS) return r;
    off += k;
  }
  BYTE end[2] = {kData, c.massWriteEnd};
  return statusFrame(c, h, end, 2, SEND_FAIL, READ_FAIL, c.writeAnswerChecked);
}

BYTE WriteData(const FrameCodes& c, HANDLE h, const BYTE* data, unsigned n) {
  return n <= kBridgeChunk ? SingleWrite(c, h, data, n) : MassWrite(c, h, data, n);
}

BYTE SingleRead(const FrameCodes& c, HANDLE h, BYTE* out, unsigned n) {
  if (n == 0 || n > kMaxSize || out == nullptr) return SEND_FAIL;
  BYTE req[4] = {kData, c.singleRead, 0x00, static_cast<BYTE>(n)};
  return DataExchange(c, h, req, 4, c.singleRead, out, n);
}

BYTE MassRead(const FrameCodes& c, HANDLE h, BYTE* out, unsigned n) {
  if (n == 0 || n > kMaxSize || out == nullptr) return SEND_FAIL;
  BYTE r = startFrame(c, h, c.massReadStart, n);
  if (r != SUCCESS) return r;
  for (unsigned off = 0; off < n;) {
    const unsigned k = chunkOf(n - off);
    BYTE req[4] = {kData, c.massReadChunk, static_cast<BYTE>(k >> 8), static_cast<BYTE>(k)};
    if ((r = DataExchange(c, h, req, 4, c.massReadChunk, out + off, k)) != SUCCESS) return r;
    off += k;
  }
  return SUCCESS;
}

BYTE ReadData(const FrameCodes& c, HANDLE h, BYTE* out, unsigned n) {
  return n <= kBridgeChunk ? SingleRead(c, h, out, n) : MassRead(c, h, out, n);
}

BYTE VariableRead(const FrameCodes& c, HANDLE h, BYTE* out, unsigned cap, WORD* got) {
  *got = 0;
  if (cap == 0 || out == nullptr) return SEND_FAIL;
  return WhileBusy(c.busy, [&] { return variableReadOnce(c, h, out, cap, got); });
}

}  // namespace kvbl
