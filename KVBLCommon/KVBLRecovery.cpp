#include "KVBLRecovery.h"

#include <cstring>
#include <memory>
#include <optional>

#include "KVBLCall.h"
#include "KVBLPorts.h"
#include "KVBLRequest.h"
#include "KVBLResync.h"
#include "SerialPort.h"

namespace kvbl {
namespace {

// What the port's command layer knows of the command in flight, and of the
// last command that gave up.
struct Trace {
  int attempted = 0;  // host frames whose write was started
  int sent = 0;       // host frames written whole
  int answer = -1;    // byte read where an acknowledge was due
  WORD lastLength = 0;
  BYTE last[kMaxFrame];  // the last host frame
  bool inReset = false;  // the program's reset handler runs
  bool silent = false;   // the chip stopped answering: not waited for again
  int debt = 0;          // repeats not yet paid back by commands that passed at once
  KVBL_RESET_HANDLER reset = nullptr;
  void* resetContext = nullptr;
  bool failed = false;
  BYTE failCmd = 0;
  DWORD failAddress = 0;
  BYTE failCause = KVBL_FAILURE_NONE;
  BYTE failAttempts = 0;
};

std::unique_ptr<Trace> g_trace[KVBL_MAX_PORTS];

// A line that fails about as many commands as it passes makes no headway:
// every repeat costs a resynchronisation and often a whole time-out, and a
// transfer would crawl for minutes. Each repeat adds one to the port's debt,
// each command that passes at once pays one back; once the debt reaches
// this, failed commands are no longer repeated and the line counts as too
// noisy. A line that fails one command in four pays back faster than it
// borrows and never gets there.
constexpr int kNoisyLine = 32;

Trace* traceOf(HANDLE h) {
  const int port = PortOf(h);
  if (port < 0) return nullptr;
  if (!g_trace[port]) g_trace[port].reset(new Trace());
  return g_trace[port].get();
}

bool lineFailure(BYTE r) {
  switch (r) {
    case SEND_FAIL:
    case READ_FAIL:
    case CMD_NOT_ALLOWED:
    case CMD_FAIL:
    case CHUNK_FAIL:
      return true;
    default:
      return r >= I2C_UNRECOGNIZED_CMD && r <= CAN_CMD_EXEC_ERROR;  // bridge statuses
  }
}

bool lineGone(HANDLE h) {
  CSerialPort* l = Line(PortOf(h));
  return l != nullptr && l->lineGone();
}

BYTE causeOf(HANDLE h, BYTE r, int answer) {
  if (lineGone(h)) return KVBL_FAILURE_LINE_GONE;
  switch (r) {
    case CMD_NOT_ALLOWED:
    case CMD_FAIL:
      if (answer == NACK) return KVBL_FAILURE_NACK;
      return answer < 0 ? KVBL_FAILURE_TIMEOUT : KVBL_FAILURE_DAMAGED;
    case SEND_FAIL:
    case READ_FAIL:
    case CHUNK_FAIL:
      return KVBL_FAILURE_TIMEOUT;
    default:
      return KVBL_FAILURE_BRIDGE;
  }
}

BYTE attempt(const Flavour* f, HANDLE h, LPKVBL_Request rq, Trace& t) {
  t.attempted = t.sent = 0;
  t.answer = -1;
  t.lastLength = 0;
  return f->sendRQ ? f->sendRQ(h, rq) : ReferenceSendRQ(f, h, rq);
}

int framesOf(const Flavour* f, const KVBL_Request* rq) {
  if (f->frames) return f->frames(rq);
  FrameRule rules[kMaxFrameRules];
  return 1 + static_cast<int>(ParameterFrames(rq, rules));
}

// The completion against the frame after the last one written whole and,
// when the last write failed, the frame after that one too (the failed one
// may have arrived all the same). Frame 0, the command pair, is a command.
size_t completionFor(const KVBL_Request* rq, const Trace& t, BYTE* out) {
  FrameRule rules[kMaxFrameRules];
  const int k = static_cast<int>(ParameterFrames(rq, rules));
  FrameRule candidates[2];
  size_t count = 0;
  for (int frame = t.sent; frame <= t.sent + (t.attempted > t.sent ? 1 : 0); ++frame)
    if (frame >= 1 && frame <= k) candidates[count++] = rules[frame - 1];
  bool avoid[256] = {};
  for (WORD i = 0; i < t.lastLength; ++i) avoid[t.last[i]] = true;
  return BuildCompletion(candidates, count, avoid, out, kMaxCompletion);
}

// A WRITE outside flash that may have been done: it is done when the chip
// holds its bytes.
BYTE confirmWrite(const Flavour* f, HANDLE h, const KVBL_Request* rq) {
  BYTE back[kMaxTransfer];
  KVBL_Request rd = Request(READ_CMD);
  rd._address = rq->_address;
  rd._length = rq->_length;
  rd._data = back;
  const BYTE r = SendWithRecovery(f, h, &rd);
  if (r != SUCCESS) return r;
  return std::memcmp(back, rq->_data, rq->_length) == 0 ? SUCCESS : CMD_FAIL;
}

}  // namespace

bool InFlashWindows(DWORD address, DWORD length) {
  constexpr DWORD kBase = 0x08000000;
  constexpr DWORD kEnd = kBase + 0x400000 + 0x1000000;  // main flash, then the 16 MB bank
  return address >= kBase && address <= kEnd && length <= kEnd - address;
}

bool NeverResynchronised(BYTE cmd) {
  // The ISP-tool command is a notice whose answer nobody needs (a chip may
  // not know it at all). The sLib commands carry a password: not even a
  // frame the chip refuses is sent in its place.
  return cmd == KV32_ISP_CMD || cmd == ENABLE_SLIB_CMD || cmd == DISABLE_SLIB_CMD;
}

RepeatClass ClassOf(const KVBL_Request* rq) {
  switch (rq->_cmd) {
    case GET_CMD:
    case GET_VER_ROPS_CMD:
    case GET_ID_CMD:
    case READ_CMD:
    case ERASE_CMD:
    case ERASE_EXT_CMD:
    case FIRMWARE_CRC_CMD:
    case GET_SLIB_STATUS_CMD:
      return RepeatClass::Repeat;
    case WRITE_CMD:
      return InFlashWindows(rq->_address, rq->_length) ? RepeatClass::Repeat : RepeatClass::Reread;
    default:
      return RepeatClass::Never;
  }
}

void NoteFrame(HANDLE h, const BYTE* data, WORD n, BYTE result) {
  Trace* t = traceOf(h);
  if (t == nullptr) return;
  ++t->attempted;
  if (result == SUCCESS) ++t->sent;
  t->lastLength = n < kMaxFrame ? n : kMaxFrame;
  if (data) std::memcpy(t->last, data, t->lastLength);
}

void PortOpened(HANDLE h) {
  if (Trace* t = traceOf(h)) {
    t->silent = false;
    t->debt = 0;
  }
}

void NoteAnswer(HANDLE h, int byte) {
  if (Trace* t = traceOf(h)) t->answer = byte;
}

bool WorthSmallerFrames(HANDLE h) {
  const Trace* t = traceOf(h);
  return t != nullptr && t->failed &&
         (t->failCause == KVBL_FAILURE_TIMEOUT || t->failCause == KVBL_FAILURE_DAMAGED ||
          t->failCause == KVBL_FAILURE_BRIDGE);
}

void RecordFailure(HANDLE h, BYTE cmd, DWORD address, BYTE cause, BYTE attempts) {
  Trace* t = traceOf(h);
  if (t == nullptr) return;
  t->silent = cause == KVBL_FAILURE_SILENT;
  t->failed = true;
  t->failCmd = cmd;
  t->failAddress = address;
  t->failCause = cause;
  t->failAttempts = attempts;
}

BYTE SendWithRecovery(const Flavour* f, HANDLE h, LPKVBL_Request rq) {
  Trace* tp = traceOf(h);
  if (tp == nullptr) return NO_CON_AVAILABLE;
  Trace& t = *tp;
  // A chip found silent is not waited for the whole time-out again: the
  // command waits for its first answers no longer than a probe would.
  const bool wasSilent = t.silent && !t.inReset;
  const unsigned long long before = Counters().received;
  BYTE r;
  {
    std::optional<ProbeTimeOut> probe;
    if (wasSilent) probe.emplace(h);
    r = attempt(f, h, rq, t);
  }
  if (r == SUCCESS) {
    t.failed = false;
    t.silent = false;
    if (t.debt > 0) --t.debt;
    return SUCCESS;
  }
  if (!lineFailure(r)) return r;  // refused before the line: nothing to recover
  const BYTE first = r;
  BYTE cause = causeOf(h, r, t.answer);
  if (wasSilent && Counters().received == before) {
    RecordFailure(h, rq->_cmd, rq->_address, KVBL_FAILURE_SILENT, 1);
    return first;
  }
  if (t.debt >= kNoisyLine && !lineGone(h)) {
    RecordFailure(h, rq->_cmd, rq->_address, KVBL_FAILURE_NOISY, 1);
    return first;
  }
  t.silent = false;
  int attempts = 1;
  const bool recoverable = f->resync && !t.inReset && !NeverResynchronised(rq->_cmd);
  bool resetDone = false;
  int unanswered = 0;  // resynchronisations in a row that got no answer
  for (int repeat = 0; recoverable && repeat < kMaxRepeats; ++repeat) {
    if (lineGone(h)) break;
    const bool acted = t.attempted >= framesOf(f, rq);
    const RepeatClass cls = acted ? ClassOf(rq) : RepeatClass::Repeat;
    if (cls == RepeatClass::Never) break;
    // A refusal is no lost answer: the chip said what became of it.
    if (cls == RepeatClass::Reread && t.answer == NACK) break;
    BYTE completion[kMaxCompletion];
    const size_t n = completionFor(rq, t, completion);
    if (n == 0) break;
    BYTE s = f->resync(h, completion, static_cast<WORD>(n));
    if (s != SUCCESS) {
      if (lineGone(h)) {
        cause = KVBL_FAILURE_LINE_GONE;
        break;
      }
      // Its answer may have been lost too: once more before the chip counts
      // as stalled.
      if (++unanswered < 2) continue;
      cause = KVBL_FAILURE_SILENT;
      if (resetDone || t.reset == nullptr) break;
      // The chip does not answer: only a reset brings it back.
      resetDone = true;
      t.inReset = true;
      s = t.reset(h, t.resetContext);
      t.inReset = false;
      if (s != SUCCESS) break;
    }
    unanswered = 0;
    if (cls == RepeatClass::Reread) {
      if (confirmWrite(f, h, rq) == SUCCESS) {
        t.failed = false;
        return SUCCESS;
      }
      cause = KVBL_FAILURE_DAMAGED;
      break;
    }
    r = attempt(f, h, rq, t);
    ++attempts;
    ++t.debt;
    if (r == SUCCESS) {
      t.failed = false;
      return SUCCESS;
    }
    cause = causeOf(h, r, t.answer);
    if (!lineFailure(r)) break;
  }
  RecordFailure(h, rq->_cmd, rq->_address, cause, static_cast<BYTE>(attempts));
  return first;
}

BYTE StartWithRecovery(const Flavour* f, HANDLE h, WORD addr, DWORD rate, BYTE dutyCycle) {
  unsigned long long before = Counters().received;
  BYTE r = f->initBL(h, addr, rate, dutyCycle);
  if (r == SUCCESS) {
    if (Trace* t = traceOf(h)) t->silent = false;
    return SUCCESS;
  }
  // A line on which nothing at all answered has no bootloader behind it (or
  // a dead one): that is said at once. An answer that came wrong or short is
  // a glitch: the start is made again, which a started bootloader or bridge
  // takes as it took the first.
  bool answered = Counters().received > before;
  const BYTE first = r;
  int attempts = 1;
  for (int repeat = 0; answered && repeat < kMaxRepeats && !lineGone(h); ++repeat) {
    Drain(h);
    ++attempts;
    before = Counters().received;
    if ((r = f->initBL(h, addr, rate, dutyCycle)) == SUCCESS) {
      if (Trace* t = traceOf(h)) t->silent = false;
      return SUCCESS;
    }
    answered = Counters().received > before;
  }
  const BYTE cause = lineGone(h) ? KVBL_FAILURE_LINE_GONE
                     : answered  ? KVBL_FAILURE_DAMAGED
                                 : KVBL_FAILURE_TIMEOUT;
  RecordFailure(h, INIT_CON, 0, cause, static_cast<BYTE>(attempts));
  return first;
}

}  // namespace kvbl

using namespace kvbl;

extern "C" {

KVBL_API BYTE KVBL_SetResetHandler(HANDLE hCOM, KVBL_RESET_HANDLER handler, void* context) {
  Trace* t = traceOf(hCOM);
  if (t == nullptr) return INPUT_PARAMS_ERROR;
  t->reset = handler;
  t->resetContext = handler ? context : nullptr;
  return SUCCESS;
}

KVBL_API BYTE KVBL_TakeLastFailure(HANDLE hCOM, LPBYTE cmd, LPDWORD address, LPBYTE cause,
                                   LPBYTE attempts) {
  Trace* t = traceOf(hCOM);
  if (t == nullptr) return INPUT_PARAMS_ERROR;
  if (!cmd || !address || !cause || !attempts) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  *cmd = t->failed ? t->failCmd : 0;
  *address = t->failed ? t->failAddress : 0;
  *cause = t->failed ? t->failCause : KVBL_FAILURE_NONE;
  *attempts = t->failed ? t->failAttempts : 0;
  t->failed = false;
  return SUCCESS;
}

}  // extern "C"
