#include "HostLine.h"

#include "FaultPlan.h"
#include "SimLog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kv32sim {

HostLine::~HostLine() {
  if (m_master >= 0) close(m_master);
}

bool HostLine::open(std::string& error) {
  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + strerror(errno);
    return false;
  }
  char name[128];
  if (ptsname_r(m_master, name, sizeof name) != 0) {
    error = std::string("cannot name the pseudo-terminal: ") + strerror(errno);
    return false;
  }
  m_slavePath = name;
  resetTerminal();
  const int fl = fcntl(m_master, F_GETFL);
  fcntl(m_master, F_SETFL, fl | O_NONBLOCK);
  m_closed = true;
  return true;
}

void HostLine::resetTerminal() {
  // Terminal settings made through the master apply to the terminal side.
  // Raw, so that nothing is translated or echoed before the host sets its
  // own mode; and at 50 baud without CLOCAL, so that whatever the host sets
  // next changes something: a pseudo-terminal drops the parity bit, and the C
  // library reports a setting in which nothing else changed as invalid.
  termios t{};
  if (tcgetattr(m_master, &t) != 0) return;
  cfmakeraw(&t);
  cfsetispeed(&t, B50);
  cfsetospeed(&t, B50);
  t.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
  tcsetattr(m_master, TCSANOW, &t);
}

HostLine::Clock::duration HostLine::byteTime() const {
  if (m_baud == 0) return Clock::duration::zero();
  return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(11ull * 1000000000ull / m_baud));
}

void HostLine::sleepUntil(Clock::time_point t) const {
  // Sleeps overshoot by tens of microseconds, a byte at high rates lasts about
  // ten: sleep while far away, then yield until the moment comes.
  for (;;) {
    if (m_stop && m_stop->load()) return;
    const auto left = t - Clock::now();
    if (left <= Clock::duration::zero()) return;
    if (left > std::chrono::milliseconds(2))
      std::this_thread::sleep_for(std::min<Clock::duration>(left - std::chrono::milliseconds(1), std::chrono::milliseconds(50)));
    else
      std::this_thread::yield();
  }
}

HostLine::Fill HostLine::fill(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    if (m_stop && m_stop->load()) return Fill::Stop;
    int wait = 50;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return Fill::Timeout;
      if (left < wait) wait = static_cast<int>(left);
    }
    pollfd p{m_master, POLLIN, 0};
    const int r = poll(&p, 1, m_closed ? 0 : wait);
    if (r < 0 && errno != EINTR) return Fill::Timeout;
    if (r > 0 && (p.revents & POLLIN)) {
      uint8_t buf[4096];
      const ssize_t n = read(m_master, buf, sizeof buf);
      if (n > 0) {
        m_closed = false;
        if (m_log) m_log->bytes("H>S", buf, static_cast<size_t>(n));
        if (m_stalled) continue;  // swallowed
        const auto now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
          m_inFree = std::max(now, m_inFree) + byteTime();
          m_in.push_back({buf[i], m_inFree});
        }
        return Fill::Data;
      }
      if (n < 0 && errno != EIO && errno != EAGAIN && errno != EINTR) return Fill::Timeout;
    }
    const bool hup = (r > 0 && (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN));
    if (hup) {
      if (!m_closed) {
        m_closed = true;
        m_hangup = true;
        m_in.clear();
        resetTerminal();
        if (m_stalled && m_log) m_log->note("host closed the terminal: stall ends");
        m_stalled = false;
        if (m_log) m_log->note("host closed the terminal");
        return Fill::Hangup;
      }
      // Nobody has the terminal open: wait for the host to come back. A host
      // that opened and closed it in between left its settings behind.
      termios t{};
      if (tcgetattr(m_master, &t) == 0 && cfgetospeed(&t) != B50) resetTerminal();
      std::this_thread::sleep_for(std::chrono::milliseconds(wait > 10 ? 10 : wait));
      continue;
    }
    if (r == 0 && m_closed) {
      // Open again (no hang-up reported any more).
      m_closed = false;
      if (m_log) m_log->note("host opened the terminal");
    }
  }
}

HostLine::Got HostLine::readByte(uint8_t& byte, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  while (m_in.empty()) {
    int left = -1;
    if (timeoutMs >= 0) {
      left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      if (left <= 0) return Got::Timeout;
    }
    switch (fill(left)) {
      case Fill::Data: break;
      case Fill::Timeout: return Got::Timeout;
      case Fill::Hangup: return Got::Hangup;
      case Fill::Stop: return Got::Stop;
    }
  }
  const InByte in = m_in.front();
  m_in.pop_front();
  sleepUntil(in.available);
  byte = in.value;
  return Got::Byte;
}

void HostLine::write(const uint8_t* data, size_t n) {
  if (n == 0) return;
  std::vector<uint8_t> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = data[i];
    if (m_faults && m_faults->hostByte(b) == FaultPlan::ByteAction::Drop) continue;
    out.push_back(b);
  }
  if (m_stalled) {
    if (m_log) m_log->note("stalled: %zu byte(s) not sent", n);
    return;
  }
  if (m_closed) {
    if (m_log) m_log->note("terminal closed: %zu byte(s) not sent", n);
    return;
  }
  // The last byte leaves the line 11 bit times per byte after the line is free.
  m_outFree = std::max(Clock::now(), m_outFree) + byteTime() * static_cast<long>(n);
  sleepUntil(m_outFree);
  if (m_log) m_log->bytes("S>H", out.data(), out.size());
  size_t done = 0;
  int idle = 0;
  while (done < out.size()) {
    const ssize_t w = ::write(m_master, out.data() + done, out.size() - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      idle = 0;
      continue;
    }
    if (w < 0 && errno != EAGAIN && errno != EINTR) break;
    // The host is not reading: give it up to 5 s, then drop the rest.
    if (++idle > 500 || (m_stop && m_stop->load())) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void HostLine::discardInput(int quietMs) {
  size_t dropped = m_in.size();
  m_in.clear();
  for (;;) {
    // What is readable now, then whatever comes within quietMs.
    pollfd p{m_master, POLLIN, 0};
    if (poll(&p, 1, quietMs) <= 0 || !(p.revents & POLLIN)) break;
    uint8_t buf[4096];
    const ssize_t n = read(m_master, buf, sizeof buf);
    if (n <= 0) break;
    if (m_log) m_log->bytes("H>S", buf, static_cast<size_t>(n));
    dropped += static_cast<size_t>(n);
  }
  if (dropped && m_log) m_log->note("discarded %zu byte(s) from the host", dropped);
}

void HostLine::stall() {
  m_stalled = true;
  m_in.clear();
  if (m_log) m_log->note("line stalled until the host reopens the terminal");
}

bool HostLine::takeHangup() {
  const bool h = m_hangup;
  m_hangup = false;
  return h;
}

}  // namespace kv32sim
