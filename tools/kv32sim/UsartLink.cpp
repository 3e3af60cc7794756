#include "UsartLink.h"

#include "HostLine.h"
#include "SimLog.h"

namespace kv32sim {

namespace {
constexpr uint8_t kStart = 0x7F;
}

ChipPort::Next UsartLink::nextCommand(uint8_t& cmd) {
  for (;;) {
    if (m_line.takeHangup()) return Next::Hangup;
    uint8_t b = 0;
    switch (m_line.readByte(b, -1)) {
      case HostLine::Got::Byte: break;
      case HostLine::Got::Timeout: continue;
      case HostLine::Got::Hangup: return Next::Hangup;
      case HostLine::Got::Stop: return Next::Stop;
    }
    if (!m_started) {
      // Until the start byte the bootloader ignores the line.
      if (b == kStart) {
        m_started = true;
        if (m_log) m_log->note("start byte: bootloader started");
        sendAck(true);
      }
      continue;
    }
    if (b == kStart) {  // already started, unless a reset was due
      if (sessionStarts()) {
        m_started = true;
        sendAck(true);
      } else {
        sendAck(false);
      }
      continue;
    }
    uint8_t c = 0;
    switch (m_line.readByte(c, m_timeoutMs)) {
      case HostLine::Got::Byte: break;
      case HostLine::Got::Timeout:
        if (m_log) m_log->note("command byte %02X without its complement: dropped", b);
        continue;
      case HostLine::Got::Hangup: return Next::Hangup;
      case HostLine::Got::Stop: return Next::Stop;
    }
    if (c != static_cast<uint8_t>(b ^ 0xFF)) {
      if (m_log) m_log->note("command %02X with complement %02X: refused", b, c);
      sendAck(false);
      protocolError();
      continue;
    }
    cmd = b;
    return Next::Command;
  }
}

bool UsartLink::receive(uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    switch (m_line.readByte(data[i], m_timeoutMs)) {
      case HostLine::Got::Byte: break;
      case HostLine::Got::Timeout:
        if (m_log) m_log->note("host quiet after %zu of %zu byte(s): command dropped", i, n);
        return false;
      default: return false;
    }
  }
  return true;
}

void UsartLink::send(const uint8_t* data, size_t n) { m_line.write(data, n); }

void UsartLink::sendBlock(const uint8_t* data, size_t n) { m_line.write(data, n); }

void UsartLink::sendAck(bool ok) {
  const uint8_t b = ok ? 0x79 : 0x1F;
  m_line.write(&b, 1);
}

// The rest of a malformed frame is already on its way: drop what has
// arrived. The host waits for the answer before it sends anything new.
void UsartLink::protocolError() { m_line.discardInput(0); }

}  // namespace kv32sim
