#include "DfuTarget.h"

#include <chrono>
#include <cstring>

#include "KVBLPorts.h"

namespace kvdfu {
namespace {

using Clock = std::chrono::steady_clock;

unsigned msLeft(Clock::time_point deadline) {
  const auto now = Clock::now();
  if (now >= deadline) return 0;
  return static_cast<unsigned>(
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
}

void put32le(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

BYTE StatusResult(uint8_t status) {
  switch (status) {
    case STATUS_OK: return SUCCESS;
    case ERR_TARGET:
    case ERR_ADDRESS:
    case ERR_VENDOR: return CMD_NOT_ALLOWED;
    default: return CMD_FAIL;
  }
}

CDfuTarget::CDfuTarget(CUsbDevice* device, unsigned timeoutMs)
    : m_dev(device), m_timeoutMs(timeoutMs == 0 ? 5000 : timeoutMs) {}

uint16_t CDfuTarget::chunk() const {
  const uint16_t t = m_dev->transferSize();
  return t == 0 || t > kDefaultTransferSize ? kDefaultTransferSize : t;
}

BYTE CDfuTarget::transfer(bool in, uint8_t request, uint16_t value, uint8_t* data, uint16_t n) {
  if (m_dev == nullptr) return NO_CON_AVAILABLE;
  const int r = m_dev->control(in, request, value, data, n, m_timeoutMs);
  if (r == kUsbErrorPipe && request != DFU_GETSTATUS && request != DFU_CLRSTATUS) {
    // A stalled request: the device's status says why.
    DfuStatus s;
    if (getStatus(&s) != SUCCESS) return CMD_FAIL;
    if (s.state == STATE_ERROR || s.status != STATUS_OK) {
      transfer(false, DFU_CLRSTATUS, 0, nullptr, 0);
      const BYTE why = StatusResult(s.status);
      return why == SUCCESS ? CMD_FAIL : why;
    }
    return CMD_FAIL;
  }
  if (r < 0) return in ? READ_FAIL : SEND_FAIL;
  // Short, and oversized (more than was asked for), transfers are refused.
  if (r != static_cast<int>(n)) return in ? READ_FAIL : SEND_FAIL;
  return SUCCESS;
}

BYTE CDfuTarget::getStatus(DfuStatus* s) {
  uint8_t b[6] = {0};
  const BYTE r = transfer(true, DFU_GETSTATUS, 0, b, sizeof(b));
  if (r != SUCCESS) return r;
  s->status = b[0];
  s->pollMs = static_cast<uint32_t>(b[1] | (b[2] << 8) | (b[3] << 16));
  s->state = b[4];
  return SUCCESS;
}

BYTE CDfuTarget::toIdle() {
  DfuStatus s;
  BYTE r = getStatus(&s);
  if (r != SUCCESS) return r;
  if (s.state == STATE_IDLE && s.status == STATUS_OK) return SUCCESS;
  if (s.state == STATE_ERROR || s.status != STATUS_OK)
    r = transfer(false, DFU_CLRSTATUS, 0, nullptr, 0);
  else if (s.state == STATE_DNLOAD_IDLE || s.state == STATE_UPLOAD_IDLE ||
           s.state == STATE_DNLOAD_SYNC || s.state == STATE_MANIFEST_SYNC)
    r = transfer(false, DFU_ABORT, 0, nullptr, 0);
  else
    return CANT_INIT_BL;  // not in DFU mode, or in a state no request ends
  if (r != SUCCESS) return r;
  if ((r = getStatus(&s)) != SUCCESS) return r;
  return s.state == STATE_IDLE && s.status == STATUS_OK ? SUCCESS : CMD_FAIL;
}

BYTE CDfuTarget::waitDone(bool mayVanish) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);
  bool extended = false, accepted = false;
  for (;;) {
    DfuStatus s;
    const BYTE r = getStatus(&s);
    if (r != SUCCESS) return accepted && mayVanish ? SUCCESS : r;
    if (s.status != STATUS_OK || s.state == STATE_ERROR) {
      transfer(false, DFU_CLRSTATUS, 0, nullptr, 0);
      const BYTE why = StatusResult(s.status);
      return why == SUCCESS ? CMD_FAIL : why;
    }
    switch (s.state) {
      case STATE_IDLE:
      case STATE_DNLOAD_IDLE:
      case STATE_MANIFEST:
      case STATE_MANIFEST_WAIT_RESET:
        return SUCCESS;
      case STATE_DNBUSY:
      case STATE_DNLOAD_SYNC:
      case STATE_MANIFEST_SYNC:
        break;
      default:
        return CMD_FAIL;  // a state this exchange cannot be in
    }
    if (mayVanish && s.state == STATE_DNBUSY) {
      accepted = true;  // the device works on the command, then resets
    }
    const unsigned poll = s.pollMs > kMaxPollMs ? kMaxPollMs : s.pollMs;
    if (!extended) {  // the first announced busy time is granted once
      deadline += std::chrono::milliseconds(poll);
      extended = true;
    }
    const unsigned left = msLeft(deadline);
    if (left == 0) return READ_FAIL;  // still busy at the time-out
    kvbl::Sleep(poll < left ? (poll == 0 ? 1 : poll) : left);
  }
}

BYTE CDfuTarget::commandList(uint8_t* out, uint16_t cap, uint16_t* got) {
  *got = 0;
  BYTE r = toIdle();
  if (r != SUCCESS) return r;
  if (m_dev == nullptr) return NO_CON_AVAILABLE;
  const int n = m_dev->control(true, DFU_UPLOAD, 0, out, cap, m_timeoutMs);
  if (n < 0) return n == kUsbErrorPipe ? CMD_NOT_ALLOWED : READ_FAIL;
  if (n == 0 || n > cap) return READ_FAIL;
  *got = static_cast<uint16_t>(n);
  return toIdle();
}

BYTE CDfuTarget::command(const uint8_t* bytes, uint16_t n) {
  BYTE r = toIdle();
  if (r != SUCCESS) return r;
  uint8_t buf[260];
  if (n == 0 || n > sizeof(buf)) return INPUT_PARAMS_ERROR;
  std::memcpy(buf, bytes, n);
  if ((r = transfer(false, DFU_DNLOAD, 0, buf, n)) != SUCCESS) return r;
  return waitDone(false);
}

BYTE CDfuTarget::commandThatResets(const uint8_t* bytes, uint16_t n) {
  BYTE r = toIdle();
  if (r != SUCCESS) return r;
  uint8_t buf[260];
  if (n == 0 || n > sizeof(buf)) return INPUT_PARAMS_ERROR;
  std::memcpy(buf, bytes, n);
  if ((r = transfer(false, DFU_DNLOAD, 0, buf, n)) != SUCCESS) return r;
  return waitDone(true);
}

BYTE CDfuTarget::setAddress(uint32_t address) {
  uint8_t frame[5] = {kCmdSetAddress};
  put32le(frame + 1, address);
  return command(frame, sizeof(frame));
}

BYTE CDfuTarget::upload(uint32_t address, uint8_t* data, uint32_t n) {
  BYTE r = setAddress(address);
  if (r != SUCCESS) return r;
  // Uploads start from dfuIDLE, not from the download state the pointer
  // command left.
  if ((r = toIdle()) != SUCCESS) return r;
  const uint16_t size = chunk();
  uint16_t block = 2;
  for (uint32_t off = 0; off < n; off += size, ++block) {
    const uint16_t len = static_cast<uint16_t>(n - off < size ? n - off : size);
    if ((r = transfer(true, DFU_UPLOAD, block, data + off, len)) != SUCCESS) return r;
  }
  return toIdle();
}

BYTE CDfuTarget::download(uint32_t address, const uint8_t* data, uint32_t n) {
  BYTE r = setAddress(address);
  if (r != SUCCESS) return r;
  const uint16_t size = chunk();
  uint16_t block = 2;
  uint8_t buf[kDefaultTransferSize];
  for (uint32_t off = 0; off < n; off += size, ++block) {
    const uint16_t len = static_cast<uint16_t>(n - off < size ? n - off : size);
    if (len > sizeof(buf)) return INPUT_PARAMS_ERROR;
    std::memcpy(buf, data + off, len);
    if ((r = transfer(false, DFU_DNLOAD, block, buf, len)) != SUCCESS) return r;
    if ((r = waitDone(false)) != SUCCESS) return r;
  }
  return SUCCESS;
}

BYTE CDfuTarget::leave(uint32_t address) {
  BYTE r = setAddress(address);
  if (r != SUCCESS) return r;
  // A download of length 0 ends the session: the device manifests and runs
  // the program at the address pointer.
  if ((r = transfer(false, DFU_DNLOAD, 2, nullptr, 0)) != SUCCESS) return r;
  return waitDone(true);
}

}  // namespace kvdfu
