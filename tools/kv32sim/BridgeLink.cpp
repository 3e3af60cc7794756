#include "BridgeLink.h"

#include "FaultPlan.h"
#include "HostLine.h"
#include "SimLog.h"

#include <algorithm>

namespace kv32sim {

namespace {
constexpr uint8_t kConfig = 0xB0, kData = 0xBF, kDone = 0xF1, kInvalid = 0xFE, kUnknown = 0xFF,
                  kBusy = 0xFD, kNoDevice = 0xF4;
constexpr uint8_t kAck = 0x79, kNack = 0x1F, kHandshake = 0x86, kSync = 0x5A, kSyncAnswer = 0xA5;
}  // namespace

BridgeLink::BridgeLink(Bus bus, HostLine& line, SimLog* log, FaultPlan* faults, int timeoutMs,
                       uint16_t i2cAddress)
    : ChipPort(line, log, faults, timeoutMs), m_bus(bus), m_chipAddress(i2cAddress), m_address(i2cAddress) {
  if (bus == Bus::I2C)
    m_c = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xEE, 0x29, 8};
  else
    m_c = {0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x2B, 5};
}

bool BridgeLink::addressed() const { return m_bus == Bus::SPI || m_address == m_chipAddress; }

void BridgeLink::busyFor(std::chrono::microseconds t) {
  if (m_bus == Bus::SPI)
    m_readyAt = m_line.now() + t;
  else
    ChipPort::busyFor(t);  // the I2C chip holds the bus until it is done
}

void BridgeLink::chipReset() {
  m_in.clear();
  m_polled = false;
}

ChipPort::Next BridgeLink::nextCommand(uint8_t& cmd) {
  m_in.clear();
  m_resync = false;
  const size_t need = m_bus == Bus::SPI ? 3 : 2;
  for (;;) {
    if (m_line.takeHangup()) return Next::Hangup;
    while (m_in.size() >= need) {
      if (m_bus == Bus::SPI && m_in.front() != kSync) {
        if (m_log) m_log->note("SPI command without its 0x5A prefix: byte %02X dropped", m_in.front());
        m_in.pop_front();
        continue;
      }
      if (m_bus == Bus::SPI) m_in.pop_front();
      const uint8_t b = m_in[0], c = m_in[1];
      m_in.erase(m_in.begin(), m_in.begin() + 2);
      // Whatever the host did not fetch of the previous command is gone.
      m_out.clear();
      m_polled = false;
      if (c != static_cast<uint8_t>(b ^ 0xFF)) {
        if (m_log) m_log->note("command %02X with complement %02X: refused", b, c);
        sendAck(false);
        m_in.clear();
        continue;
      }
      cmd = b;
      return Next::Command;
    }
    switch (pump(-1)) {
      case Pump::Hangup: return Next::Hangup;
      case Pump::Stop: return Next::Stop;
      case Pump::Resync: m_resync = false; break;
      default: break;
    }
  }
}

bool BridgeLink::receive(uint8_t* data, size_t n) {
  while (m_in.size() < n) {
    if (m_resync) return false;
    const Pump p = pump(m_timeoutMs);
    if (p == Pump::Timeout) {
      if (m_log) m_log->note("host quiet with %zu of %zu byte(s): command dropped", m_in.size(), n);
      return false;
    }
    if (p != Pump::Frame) return false;
  }
  for (size_t i = 0; i < n; ++i) {
    data[i] = m_in.front();
    m_in.pop_front();
  }
  return true;
}

void BridgeLink::send(const uint8_t* data, size_t n) { queue(Kind::Data, data, n); }

void BridgeLink::sendBlock(const uint8_t* data, size_t n) { queue(Kind::Block, data, n); }

void BridgeLink::sendAck(bool ok) {
  const uint8_t b = ok ? kAck : kNack;
  queue(m_bus == Bus::SPI ? Kind::Ack : Kind::Data, &b, 1);
}

void BridgeLink::deliver(const std::vector<uint8_t>& bytes) {
  if (m_log) m_log->note("bridge delivers %zu byte(s) to the chip", bytes.size());
  m_in.insert(m_in.end(), bytes.begin(), bytes.end());
}

BridgeLink::Pump BridgeLink::pump(int firstMs) {
  uint8_t start = 0;
  Pump ended = Pump::Timeout;
  if (noFrame(readFrame(&start, 1, firstMs), ended)) return ended;
  if (start == kConfig) {
    // A new session: whatever command was in progress is over.
    sessionStarts();
    configFrame();
    m_resync = true;
  }
  else if (start == kData) dataFrame();
  else if (m_log) m_log->note("byte %02X outside any bridge frame: ignored", start);
  if (m_resync) return Pump::Resync;
  return Pump::Frame;
}

void BridgeLink::configFrame() {
  uint8_t h[2];
  if (readFrame(h, 2, m_timeoutMs) != Rd::Ok) return;
  uint8_t body[16];
  if (h[1] > sizeof body) {
    if (m_log) m_log->note("configuration frame of %u bytes: refused", h[1]);
    m_line.discardInput(20);
    answer({kConfig, kInvalid});
    return;
  }
  if (readFrame(body, h[1], m_timeoutMs) != Rd::Ok) return;
  if (h[0] != m_c.configType || h[1] != m_c.configCount) {
    if (m_log) m_log->note("configuration frame %02X/%u not for this bridge", h[0], h[1]);
    answer({kConfig, kUnknown});
    return;
  }
  if (m_bus == Bus::I2C) {
    m_address = static_cast<uint16_t>(body[1] << 8 | body[2]);
    const uint32_t rate = uint32_t(body[3]) << 24 | uint32_t(body[4]) << 16 | uint32_t(body[5]) << 8 | body[6];
    if (m_log) m_log->note("I2C bridge: address %04X, rate %u, duty %u", m_address, rate, body[7]);
  } else {
    const uint32_t rate = uint32_t(body[1]) << 24 | uint32_t(body[2]) << 16 | uint32_t(body[3]) << 8 | body[4];
    if (m_log) m_log->note("SPI bridge: clock %u", rate);
  }
  answer({kConfig, kDone});
}

bool BridgeLink::chipRead(size_t n, std::vector<uint8_t>& out) {
  // SPI: an acknowledge is only given through the polling handshake.
  if (m_bus == Bus::SPI && !m_out.empty() && m_out.front().kind == Kind::Ack) return false;
  size_t plain = 0;
  for (const auto& it : m_out) {
    if (it.kind == Kind::Ack) break;
    plain += it.bytes.size() - it.pos;
  }
  if (plain < n) return false;
  return take(n, out);
}

void BridgeLink::dataFrame() {
  uint8_t sub = 0;
  if (readFrame(&sub, 1, m_timeoutMs) != Rd::Ok) return;
  // Frame layout by sub-command: which header bytes follow and whether data does.
  const bool writeRead = m_bus == Bus::SPI && sub == m_c.writeRead;
  const bool writeWithSize = sub == m_c.singleWrite || writeRead;
  const bool withLen16 = sub == m_c.massWriteChunk || sub == m_c.massReadChunk;
  const bool withSize = sub == m_c.massWriteStart || sub == m_c.massReadStart || sub == m_c.singleRead;
  const bool bare = sub == m_c.massWriteEnd || sub == m_c.variableRead;
  if (!writeWithSize && !withLen16 && !withSize && !bare) {
    if (m_log) m_log->note("bridge sub-command %02X unknown", sub);
    m_line.discardInput(20);
    answer({kData, kUnknown});
    return;
  }
  size_t len = 0;
  bool badHeader = false;
  if (!bare) {
    uint8_t h[2];
    if (readFrame(h, 2, m_timeoutMs) != Rd::Ok) return;
    len = withLen16 ? size_t(h[0]) << 8 | h[1] : h[1];
    badHeader = (withSize || writeWithSize) && h[0] != 0;
  }
  if (m_log)
    m_log->note("%s frame BF %02X%s, length %zu", m_bus == Bus::I2C ? "I2C" : "SPI", sub,
                writeWithSize || sub == m_c.massWriteChunk ? " (write)" : bare ? "" : " (read)", len);
  std::vector<uint8_t> data;
  const bool carriesData = writeWithSize || sub == m_c.massWriteChunk;
  if (carriesData) {
    if (len == 0 || len > 255) {
      if (m_log) m_log->note("bridge write of %zu byte(s): refused", len);
      m_line.discardInput(20);
      answer({kData, kInvalid});
      return;
    }
    data.resize(len);
    if (readFrame(data.data(), len, m_timeoutMs) != Rd::Ok) return;
  }
  // Error answers of read frames keep the length the host waits for.
  const bool isRead = sub == m_c.singleRead || sub == m_c.massReadChunk || sub == m_c.variableRead;
  auto fail = [&](uint8_t status) {
    std::vector<uint8_t> pad;
    if (isRead) pad.assign(sub == m_c.variableRead ? 1 : std::min<size_t>(len, 255) + 2, 0x00);
    answer({kData, status}, pad);
  };
  uint8_t injected = 0;
  if (m_faults && m_faults->bridgeFrame(injected)) return fail(injected);
  if (badHeader) return fail(kInvalid);
  if (!addressed()) return fail(kNoDevice);

  if (sub == m_c.singleWrite) {
    if (m_bus == Bus::SPI && len == 1 && data[0] == 0x00 && !m_out.empty() && m_out.front().kind == Kind::Ack) {
      answer({kData, kDone});  // acknowledge polling starts
      return;
    }
    deliver(data);
    answer({kData, kDone});
  } else if (sub == m_c.massWriteStart) {
    if (len == 0) return fail(kInvalid);
    m_massWrite.clear();
    m_massWriteSize = len;
    m_massWriting = true;
    answer({kData, kDone});
  } else if (sub == m_c.massWriteChunk) {
    if (!m_massWriting || m_massWrite.size() + len > m_massWriteSize) {
      m_massWriting = false;
      return fail(kInvalid);
    }
    m_massWrite.insert(m_massWrite.end(), data.begin(), data.end());
    answer({kData, kDone});
  } else if (sub == m_c.massWriteEnd) {
    const bool ok = m_massWriting && m_massWrite.size() == m_massWriteSize;
    m_massWriting = false;
    if (!ok) return fail(kInvalid);
    deliver(m_massWrite);
    answer({kData, kDone});
  } else if (sub == m_c.singleRead) {
    if (len == 0 || len > 255) return fail(kInvalid);
    std::vector<uint8_t> out;
    if (m_bus == Bus::SPI && len == 1 && (m_out.empty() || m_out.front().kind == Kind::Ack)) {
      // Acknowledge polling: the pending ACK/NACK, or 0x00 while busy.
      uint8_t b = 0x00;
      if (!m_out.empty() && m_line.now() >= m_readyAt) {
        b = m_out.front().bytes[0];
        m_polled = true;
      }
      return answer({kData, sub, 0x00, 0x00, b});
    }
    if (!chipRead(len, out)) return fail(kBusy);
    answer({kData, sub, 0x00, 0x00}, out);
  } else if (sub == m_c.massReadStart) {
    if (len == 0 || len > 255) return fail(kInvalid);
    if (!chipRead(len, m_massRead)) return fail(kBusy);
    m_massReadPos = 0;
    answer({kData, kDone});
  } else if (sub == m_c.massReadChunk) {
    if (len == 0 || len > m_massRead.size() - m_massReadPos) return fail(kInvalid);
    std::vector<uint8_t> out(m_massRead.begin() + static_cast<long>(m_massReadPos),
                             m_massRead.begin() + static_cast<long>(m_massReadPos + len));
    m_massReadPos += len;
    answer({kData, sub, 0x00, 0x00}, out);
  } else if (sub == m_c.variableRead) {
    if (m_out.empty() || m_out.front().kind != Kind::Block || m_out.front().bytes.size() > 255) return fail(kBusy);
    std::vector<uint8_t> out;
    take(m_out.front().bytes.size(), out);
    answer({kData, sub, static_cast<uint8_t>(out.size())}, out);
  } else if (writeRead) {
    // SPI full duplex: as many bytes come back as were sent.
    std::vector<uint8_t> back(len, 0x00);
    if (len == 1 && data[0] == kSync) {
      // Sync: the chip's SPI session restarts and it acknowledges.
      back[0] = kSyncAnswer;
      m_out.clear();
      m_in.clear();
      m_resync = true;
      m_polled = false;
      const uint8_t a = kAck;
      queue(Kind::Ack, &a, 1);
      if (m_log) m_log->note("SPI sync");
    } else if (len == 1 && data[0] == kAck && m_polled && !m_out.empty() && m_out.front().kind == Kind::Ack) {
      back[0] = kHandshake;
      m_out.pop_front();
      m_polled = false;
    }
    answer({kData, sub, 0x00, 0x00}, back);
  }
}

}  // namespace kv32sim
