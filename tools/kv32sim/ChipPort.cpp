#include "ChipPort.h"

#include "HostLine.h"
#include "SimLog.h"

namespace kv32sim {

ChipPort::ChipPort(HostLine& line, SimLog* log, FaultPlan* faults, int timeoutMs)
    : m_line(line), m_log(log), m_faults(faults), m_timeoutMs(timeoutMs) {}

void ChipPort::busyFor(std::chrono::microseconds t) { m_line.busyFor(t); }

void ChipPort::stall() {
  m_out.clear();
  m_in.clear();
  m_line.stall();
}

void ChipPort::queue(Kind kind, const uint8_t* data, size_t n) {
  if (n == 0 && kind != Kind::Block) return;
  m_out.push_back(Item{kind, std::vector<uint8_t>(data, data + n), 0});
}

size_t ChipPort::pending() const {
  size_t n = 0;
  for (const auto& it : m_out) n += it.bytes.size() - it.pos;
  return n;
}

bool ChipPort::take(size_t n, std::vector<uint8_t>& out) {
  if (pending() < n) return false;
  out.clear();
  while (out.size() < n) {
    Item& it = m_out.front();
    const size_t k = std::min(n - out.size(), it.bytes.size() - it.pos);
    out.insert(out.end(), it.bytes.begin() + static_cast<long>(it.pos),
               it.bytes.begin() + static_cast<long>(it.pos + k));
    it.pos += k;
    if (it.pos == it.bytes.size()) m_out.pop_front();
  }
  while (!m_out.empty() && m_out.front().pos == m_out.front().bytes.size()) m_out.pop_front();
  return true;
}

ChipPort::Rd ChipPort::readFrame(uint8_t* data, size_t n, int firstMs) {
  for (size_t i = 0; i < n; ++i) {
    switch (m_line.readByte(data[i], i == 0 ? firstMs : m_timeoutMs)) {
      case HostLine::Got::Byte: break;
      case HostLine::Got::Timeout:
        if (i > 0 && m_log) m_log->note("frame cut short after %zu of %zu byte(s): dropped", i, n);
        return Rd::Timeout;
      case HostLine::Got::Hangup: return Rd::Hangup;
      case HostLine::Got::Stop: return Rd::Stop;
    }
  }
  return Rd::Ok;
}

void ChipPort::answer(std::initializer_list<uint8_t> head, const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> a(head);
  a.insert(a.end(), tail.begin(), tail.end());
  m_line.write(a.data(), a.size());
}

}  // namespace kv32sim
