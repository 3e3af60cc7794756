#include "DfuTarget.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "KVBLPorts.h"

namespace kvdfu {
namespace {

using Clock = std::chrono::steady_clock;

// Requests that move the device on without a wait (ABORT, CLRSTATUS, a
// GETSTATUS in a SYNC state) before it must be idle or busy.
constexpr int kMaxSteps = 8;

void put32le(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The waits of one exchange with a busy device. Each time the device
// announces is waited in full before it is asked again; the device may run
// over the sum of its announcements by the time-out; and the exchange never
// outlasts the cap.
class BusyClock {
 public:
  explicit BusyClock(unsigned timeoutMs)
      : m_start(Clock::now()), m_timeout(timeoutMs), m_cap(std::max(timeoutMs, kBusyCapMs)) {}
  // Waits pollMs; false, without waiting, when the device has run over.
  bool wait(uint32_t pollMs) {
    const uint64_t elapsed = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count());
    if (elapsed > m_timeout + m_announced || elapsed + pollMs > m_cap) return false;
    m_announced += pollMs;
    kvbl::Sleep(pollMs == 0 ? 1 : static_cast<unsigned>(pollMs));
    return true;
  }

 private:
  Clock::time_point m_start;
  uint64_t m_timeout, m_cap;
  uint64_t m_announced = 0;
};

}  // namespace

BYTE StatusResult(uint8_t status) {
  switch (status) {
    case STATUS_OK: return SUCCESS;
    case ERR_TARGET:
    case ERR_FILE:
    case ERR_ADDRESS:
    case ERR_VENDOR: return CMD_NOT_ALLOWED;
    default: return CMD_FAIL;
  }
}

CDfuTarget::CDfuTarget(CDfuLine& line)
    : m_line(line),
      m_dev(line.device()),
      m_session(line.session()),
      m_timeoutMs(line.m_timeout == 0 ? 5000 : static_cast<unsigned>(line.m_timeout)) {}

uint16_t CDfuTarget::chunk() const {
  const uint16_t t = m_dev->transferSize();
  return t == 0 || t > kDefaultTransferSize ? kDefaultTransferSize : t;
}

void CDfuTarget::left(uint8_t state) {
  m_session.stateKnown = true;
  m_session.state = state;
}

BYTE CDfuTarget::failed(BYTE r) {
  m_session.forget();
  return r;
}

BYTE CDfuTarget::transfer(bool in, uint8_t request, uint16_t value, uint8_t* data, uint16_t n) {
  if (m_dev == nullptr) return NO_CON_AVAILABLE;
  const int r = m_dev->control(in, request, value, data, n, m_timeoutMs);
  m_lastUsb = r < 0 ? r : 0;
  if (r == kUsbErrorPipe && request != DFU_GETSTATUS && request != DFU_CLRSTATUS) {
    // A stalled request: the device's status says why.
    DfuStatus s;
    if (getStatus(&s) != SUCCESS) return failed(CMD_FAIL);
    if (s.state == STATE_ERROR || s.status != STATUS_OK) return errorOf(s);
    return failed(CMD_FAIL);
  }
  // Failed, short and oversized (more than was asked for) transfers.
  if (r < 0 || r != static_cast<int>(n)) return failed(in ? READ_FAIL : SEND_FAIL);
  return SUCCESS;
}

BYTE CDfuTarget::errorOf(const DfuStatus& s) {
  m_line.errorStatus().status = s.status;
  m_line.errorStatus().state = s.state;
  m_session.forget();
  if (s.state == STATE_ERROR && transfer(false, DFU_CLRSTATUS, 0, nullptr, 0) == SUCCESS) left(STATE_IDLE);
  const BYTE why = StatusResult(s.status);
  return why == SUCCESS ? CMD_FAIL : why;
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
  if (m_session.stateKnown && m_session.state == STATE_IDLE) return SUCCESS;
  if (m_session.stateKnown && (m_session.state == STATE_DNLOAD_IDLE || m_session.state == STATE_UPLOAD_IDLE)) {
    const BYTE r = transfer(false, DFU_ABORT, 0, nullptr, 0);
    if (r == SUCCESS) left(STATE_IDLE);
    return r;
  }
  // Unknown: what an earlier session (or program) left behind. A device
  // still busy with a command whose announced time this host never saw may
  // refuse the first request (a stall ends with the next one); one that
  // answers nothing at all waits for the USB reset that ends a
  // manifestation, and gets it.
  m_session.forget();
  if (m_dev == nullptr) return NO_CON_AVAILABLE;
  DfuStatus s;
  BYTE r = getStatus(&s);
  if (r != SUCCESS && m_lastUsb != kUsbErrorNoDevice) r = getStatus(&s);
  if (r != SUCCESS) {
    if (m_lastUsb == kUsbErrorNoDevice) return r;
    m_dev->reset();
    return failed(CANT_INIT_BL);
  }
  BusyClock clock(m_timeoutMs);
  const bool tolerant = (m_dev->attributes() & kAttrManifestationTolerant) != 0;
  for (int steps = 0;;) {
    switch (s.state) {
      case STATE_IDLE:
        left(STATE_IDLE);
        return SUCCESS;
      case STATE_ERROR:  // a leftover error: cleared, not this call's failure
        r = transfer(false, DFU_CLRSTATUS, 0, nullptr, 0);
        ++steps;
        break;
      case STATE_DNLOAD_IDLE:
      case STATE_UPLOAD_IDLE:
        r = transfer(false, DFU_ABORT, 0, nullptr, 0);
        ++steps;
        break;
      case STATE_DNLOAD_SYNC:
      case STATE_MANIFEST_SYNC:  // the GETSTATUS itself moves it on
        ++steps;
        break;
      case STATE_DNBUSY:
      case STATE_MANIFEST:
        if (!clock.wait(s.pollMs)) return failed(READ_FAIL);
        if (s.state == STATE_MANIFEST && !tolerant) {
          // It now waits for the USB reset that ends a manifestation.
          m_dev->reset();
          return failed(CANT_INIT_BL);
        }
        break;
      case STATE_MANIFEST_WAIT_RESET:
        m_dev->reset();
        return failed(CANT_INIT_BL);
      default:
        return failed(CANT_INIT_BL);  // not in DFU mode
    }
    if (r != SUCCESS) return r;
    if (steps > kMaxSteps) return failed(CMD_FAIL);
    if ((r = getStatus(&s)) != SUCCESS) return r;
  }
}

BYTE CDfuTarget::waitDone(bool mayVanish) {
  BusyClock clock(m_timeoutMs);
  bool accepted = false;
  for (int steps = 0; steps < kMaxSteps;) {
    DfuStatus s;
    const BYTE r = getStatus(&s);
    if (r != SUCCESS) return accepted && mayVanish ? failed(SUCCESS) : r;
    if (s.status != STATUS_OK || s.state == STATE_ERROR) return errorOf(s);
    switch (s.state) {
      case STATE_DNLOAD_IDLE:
      case STATE_IDLE:
        left(s.state);
        return SUCCESS;
      case STATE_DNBUSY:
        accepted = true;  // working on it; a device that resets now has taken it
        if (!clock.wait(s.pollMs)) return failed(READ_FAIL);  // still busy past the time-out
        break;
      case STATE_DNLOAD_SYNC:
        ++steps;
        break;
      default:
        return failed(CMD_FAIL);  // a state this exchange cannot be in
    }
  }
  return failed(CMD_FAIL);
}

BYTE CDfuTarget::idleOrDownload() {
  if (m_session.stateKnown && (m_session.state == STATE_IDLE || m_session.state == STATE_DNLOAD_IDLE))
    return SUCCESS;
  return toIdle();
}

BYTE CDfuTarget::commandList(uint8_t* out, uint16_t cap, uint16_t* got) {
  *got = 0;
  BYTE r = toIdle();
  if (r != SUCCESS) return r;
  if (m_dev == nullptr) return NO_CON_AVAILABLE;
  const int n = m_dev->control(true, DFU_UPLOAD, 0, out, cap, m_timeoutMs);
  m_session.forget();  // a short answer may or may not have ended the upload
  if (n < 0) return n == kUsbErrorPipe ? CMD_NOT_ALLOWED : READ_FAIL;
  if (n == 0 || n > cap) return READ_FAIL;
  *got = static_cast<uint16_t>(n);
  return SUCCESS;
}

BYTE CDfuTarget::command(const uint8_t* bytes, uint16_t n) {
  uint8_t buf[260];
  if (n == 0 || n > sizeof(buf)) return INPUT_PARAMS_ERROR;
  BYTE r = idleOrDownload();
  if (r != SUCCESS) return r;
  std::memcpy(buf, bytes, n);
  m_session.followOn = false;
  if ((r = transfer(false, DFU_DNLOAD, 0, buf, n)) != SUCCESS) return r;
  return waitDone(false);
}

BYTE CDfuTarget::commandThatResets(const uint8_t* bytes, uint16_t n) {
  uint8_t buf[260];
  if (n == 0 || n > sizeof(buf)) return INPUT_PARAMS_ERROR;
  BYTE r = idleOrDownload();
  if (r != SUCCESS) return r;
  std::memcpy(buf, bytes, n);
  if ((r = transfer(false, DFU_DNLOAD, 0, buf, n)) != SUCCESS) return r;
  r = waitDone(true);
  m_session.forget();  // the device restarts
  return r;
}

BYTE CDfuTarget::setAddress(uint32_t address) {
  uint8_t frame[5] = {kCmdSetAddress};
  put32le(frame + 1, address);
  const BYTE r = command(frame, sizeof(frame));
  if (r != SUCCESS) return r;
  m_session.followOn = true;
  m_session.nextBlock = 2;
  m_session.nextAddress = address;
  return SUCCESS;
}

bool CDfuTarget::followsOn(uint8_t state, uint32_t address) const {
  return m_session.stateKnown && m_session.state == state && m_session.followOn &&
         m_session.nextAddress == address;
}

void CDfuTarget::moved(uint16_t block, uint32_t address, uint16_t len, uint16_t size) {
  // Only a whole block keeps the next one at the following address.
  m_session.followOn = len == size && block < 0xFFFF && address + len > address;
  m_session.nextBlock = static_cast<uint16_t>(block + 1);
  m_session.nextAddress = address + len;
}

BYTE CDfuTarget::startUpload(uint32_t address) {
  BYTE r = setAddress(address);
  if (r != SUCCESS) return r;
  // Uploads start from dfuIDLE, not from the download state the pointer
  // command left.
  if ((r = transfer(false, DFU_ABORT, 0, nullptr, 0)) != SUCCESS) return r;
  left(STATE_IDLE);
  return SUCCESS;
}

BYTE CDfuTarget::blocks(uint32_t address, uint32_t n, bool up, const MoveBlock& move) {
  const uint16_t size = chunk();
  const uint8_t state = up ? STATE_UPLOAD_IDLE : STATE_DNLOAD_IDLE;
  for (uint32_t off = 0; off < n;) {
    const uint16_t len = static_cast<uint16_t>(std::min<uint32_t>(n - off, size));
    const uint32_t at = address + off;
    BYTE r = followsOn(state, at) ? SUCCESS : up ? startUpload(at) : setAddress(at);
    if (r != SUCCESS) return r;
    const uint16_t block = m_session.nextBlock;
    m_session.followOn = false;
    if ((r = move(block, off, len)) != SUCCESS) return r;
    moved(block, at, len, size);
    off += len;
  }
  return SUCCESS;
}

BYTE CDfuTarget::upload(uint32_t address, uint8_t* data, uint32_t n) {
  return blocks(address, n, true, [&](uint16_t block, uint32_t off, uint16_t len) {
    const BYTE r = transfer(true, DFU_UPLOAD, block, data + off, len);
    if (r == SUCCESS) left(STATE_UPLOAD_IDLE);
    return r;
  });
}

BYTE CDfuTarget::download(uint32_t address, const uint8_t* data, uint32_t n) {
  uint8_t buf[kDefaultTransferSize];
  return blocks(address, n, false, [&](uint16_t block, uint32_t off, uint16_t len) {
    std::memcpy(buf, data + off, len);
    const BYTE r = transfer(false, DFU_DNLOAD, block, buf, len);
    return r == SUCCESS ? waitDone(false) : r;
  });
}

BYTE CDfuTarget::leave(uint32_t address) {
  BYTE r = setAddress(address);
  if (r != SUCCESS) return r;
  // A download of length 0 ends the session: the device manifests and runs
  // the program at the address pointer.
  if ((r = transfer(false, DFU_DNLOAD, m_session.nextBlock, nullptr, 0)) != SUCCESS) return r;
  m_session.forget();
  BusyClock clock(m_timeoutMs);
  const bool tolerant = (m_dev->attributes() & kAttrManifestationTolerant) != 0;
  for (int steps = 0; steps < kMaxSteps;) {
    DfuStatus s;
    uint8_t b[6] = {0};
    const int n = m_dev->control(true, DFU_GETSTATUS, 0, b, sizeof(b), m_timeoutMs);
    if (n == kUsbErrorNoDevice) return SUCCESS;  // it left DFU mode by itself
    if (n != static_cast<int>(sizeof(b))) return failed(READ_FAIL);
    s.status = b[0];
    s.pollMs = static_cast<uint32_t>(b[1] | (b[2] << 8) | (b[3] << 16));
    s.state = b[4];
    if (s.status != STATUS_OK || s.state == STATE_ERROR) return errorOf(s);
    switch (s.state) {
      case STATE_MANIFEST_SYNC:
        ++steps;
        continue;
      case STATE_MANIFEST:
        if (!clock.wait(s.pollMs)) return failed(READ_FAIL);
        if (tolerant) continue;  // it comes back to dfuIDLE
        break;  // it waits for the USB reset now
      case STATE_MANIFEST_WAIT_RESET:
      case STATE_IDLE:  // manifested; DFU mode ends with the reset
        break;
      default:
        return failed(CMD_FAIL);
    }
    return m_dev->reset() == 0 ? SUCCESS : SEND_FAIL;
  }
  return failed(CMD_FAIL);
}

BYTE CDfuTarget::restart() {
  if (m_line.lists(RESET_MCU_CMD)) {
    const uint8_t frame[1] = {RESET_MCU_CMD};
    return commandThatResets(frame, 1);
  }
  m_session.forget();
  return m_dev != nullptr && m_dev->reset() == 0 ? SUCCESS : SEND_FAIL;
}

}  // namespace kvdfu
