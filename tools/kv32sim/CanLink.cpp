#include "CanLink.h"

#include "FaultPlan.h"
#include "HostLine.h"
#include "SimLog.h"

namespace kv32sim {

namespace {
constexpr uint8_t kConfig = 0xB0, kData = 0xBF, kDone = 0xF1, kInvalid = 0xFE, kUnknown = 0xFF, kBusy = 0xFD;
constexpr uint8_t kWrite = 0x08, kRead = 0x09, kVariable = 0x0A;
}  // namespace

ChipPort::Next CanLink::nextCommand(uint8_t& cmd) {
  m_in.clear();
  m_current = -1;
  for (;;) {
    if (m_line.takeHangup()) return Next::Hangup;
    m_written = false;
    switch (pump(-1)) {
      case Pump::Hangup: return Next::Hangup;
      case Pump::Stop: return Next::Stop;
      default: break;
    }
    if (!m_written) continue;
    // Whatever the host did not fetch of the previous command is gone.
    m_out.clear();
    cmd = m_writeCode;
    m_bare = m_writeBare;
    m_current = cmd;
    m_foreign = false;
    return Next::Command;
  }
}

bool CanLink::receive(uint8_t* data, size_t n) {
  while (m_in.size() < n) {
    const Pump p = pump(m_timeoutMs);
    if (p == Pump::Timeout) {
      if (m_log) m_log->note("host quiet with %zu of %zu byte(s): command dropped", m_in.size(), n);
      return false;
    }
    if (p == Pump::Session && m_log) m_log->note("bridge configured again: command dropped");
    if (p != Pump::Frame) return false;
    if (m_foreign) {
      // Every message names its command: one for another command ends this
      // one, refused.
      if (m_log) m_log->note("frame for command %02X inside command %02X: refused, command dropped",
                             m_writeCode, m_current);
      m_in.clear();
      sendAck(false);
      return false;
    }
  }
  for (size_t i = 0; i < n; ++i) {
    data[i] = m_in.front();
    m_in.pop_front();
  }
  return true;
}

void CanLink::sendAck(bool ok) {
  const uint8_t b = ok ? 0x79 : 0x1F;
  queue(Kind::Ack, &b, 1);
}

CanLink::Pump CanLink::pump(int firstMs) {
  uint8_t start = 0;
  Pump ended = Pump::Timeout;
  if (noFrame(readFrame(&start, 1, firstMs), ended)) return ended;
  if (start == kConfig) {
    sessionStarts();
    uint8_t h[2];
    if (readFrame(h, 2, m_timeoutMs) != Rd::Ok) return Pump::Frame;
    uint8_t body[16];
    if (h[1] > sizeof body) {
      m_line.discardInput(20);
      answer({kConfig, kInvalid});
      return Pump::Frame;
    }
    if (readFrame(body, h[1], m_timeoutMs) != Rd::Ok) return Pump::Frame;
    if (h[0] != 0x29 || h[1] != 3 || body[0] != 0x01) {
      if (m_log) m_log->note("configuration frame %02X/%u not for this bridge", h[0], h[1]);
      answer({kConfig, kUnknown});
      return Pump::Frame;
    }
    m_speed = body[1];
    if (m_log) m_log->note("CAN bridge: speed code %u", m_speed);
    answer({kConfig, kDone});
    return Pump::Session;
  }
  if (start == kData) {
    dataFrame();
    return Pump::Frame;
  }
  if (m_log) m_log->note("byte %02X outside any bridge frame: ignored", start);
  return Pump::Frame;
}

void CanLink::dataFrame() {
  uint8_t h[3];  // sub-command, command code, length
  if (readFrame(h, 3, m_timeoutMs) != Rd::Ok) return;
  const uint8_t sub = h[0], code = h[1], len = h[2];
  if (sub != kWrite && sub != kRead && sub != kVariable) {
    if (m_log) m_log->note("CAN bridge sub-command %02X unknown", sub);
    m_line.discardInput(20);
    answer({kData, kUnknown});
    return;
  }
  if (m_log)
    m_log->note("CAN frame BF %02X (%s), command %02X, length %u", sub,
                sub == kWrite ? "write" : sub == kRead ? "read" : "variable read", code, len);
  uint8_t data[8];
  if (sub == kWrite) {
    if (len > 8) {
      if (m_log) m_log->note("CAN frame of %u data bytes: refused", len);
      m_line.discardInput(20);
      answer({kData, kInvalid});
      return;
    }
    if (len && readFrame(data, len, m_timeoutMs) != Rd::Ok) return;
  }
  auto fail = [&](uint8_t status) {
    std::vector<uint8_t> pad;
    if (sub == kRead) pad.assign(len <= 8 ? len + 2u : 2u, 0x00);
    if (sub == kVariable) pad.assign(2, 0x00);
    answer({kData, status}, pad);
  };
  uint8_t injected = 0;
  if (m_faults && m_faults->bridgeFrame(injected)) return fail(injected);

  if (sub == kWrite) {
    if (m_current >= 0 && code != m_current) {
      m_foreign = true;
      m_writeCode = code;
      answer({kData, kDone});
      return;
    }
    m_in.insert(m_in.end(), data, data + len);
    m_written = true;
    m_writeCode = code;
    m_writeBare = len == 0;
    answer({kData, kDone});
  } else if (sub == kRead) {
    std::vector<uint8_t> out;
    if (len == 0 || len > 8) return fail(kInvalid);
    if (!take(len, out)) return fail(kBusy);
    answer({kData, kRead, 0x00, 0x00}, out);
  } else {
    const size_t n = pending();
    std::vector<uint8_t> out;
    if (n == 0 || n > 255 || !take(n, out)) return fail(kBusy);
    answer({kData, kVariable, 0x00, static_cast<uint8_t>(n)}, out);
  }
}

}  // namespace kv32sim
