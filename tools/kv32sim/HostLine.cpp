#include "HostLine.h"

#include "FaultPlan.h"
#include "SimLog.h"
#include "ThreadLatency.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <time.h>
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
  // Paced answers are due at exact moments, a byte at high rates lasts about
  // ten microseconds: no timer slack for this thread's sleeps.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  // A chip answers within microseconds of its moment, whatever else the
  // machine runs.
  RequestShortTimeSlice();
  // Raw, so that nothing is translated or echoed before the host sets its
  // own mode, as a bridge's pseudo-terminal is made (socat's "raw,echo=0").
  // Whatever the host sets then stays after it closes the terminal, as on
  // any other pseudo-terminal.
  termios t{};
  if (tcgetattr(m_master, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(m_master, TCSANOW, &t);
  }
  const int fl = fcntl(m_master, F_GETFL);
  fcntl(m_master, F_SETFL, fl | O_NONBLOCK);
  m_closed = true;
  return true;
}

HostLine::Clock::duration HostLine::byteTime() const {
  if (m_baud == 0) return Clock::duration::zero();
  return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(11ull * 1000000000ull / m_baud));
}

void HostLine::sleepUntil(Clock::time_point t) const {
  // Absolute sleeps on the monotonic clock (the one steady_clock reads), in
  // slices of at most 50 ms so that a stop request is seen. A sleep wakes tens
  // of microseconds late even without timer slack (set in open()), several
  // byte times at high rates: the last stretch is waited on the clock. That
  // stretch is short, so the waiting costs little, and it is no yield loop
  // (a yield on a busy machine hands the processor away for whole slices).
  constexpr auto kWakeMargin = std::chrono::microseconds(60);
  for (;;) {
    if (stopping()) return;
    const Clock::time_point now = Clock::now();
    if (now >= t) return;
    if (t - now <= kWakeMargin) continue;
    const Clock::time_point until = std::min<Clock::time_point>(t - kWakeMargin, now + std::chrono::milliseconds(50));
    const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(until.time_since_epoch()).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
  }
}

HostLine::Clock::time_point HostLine::now() const { return std::max(Clock::now(), m_taken); }

void HostLine::busyFor(Clock::duration t) { sleepUntil(now() + t); }

HostLine::Fill HostLine::fill(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    if (stopping() || m_unplugged) return Fill::Stop;
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
          if (m_faults && m_faults->chipByte()) {
            unplug();  // this byte and the rest are lost with the line
            break;
          }
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
        // A stall lasts: a real chip never sees the host close its port.
        if (m_log) m_log->note(m_stalled ? "host closed the terminal: the chip stays stalled"
                                         : "host closed the terminal");
        return Fill::Hangup;
      }
      // Nobody has the terminal open: wait for the host to come back.
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
  const auto deadline = now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  while (m_in.empty()) {
    if (m_unplugged) return Got::Stop;
    int left = -1;
    if (timeoutMs >= 0) {
      const auto rest = deadline - Clock::now();
      if (rest <= Clock::duration::zero()) return Got::Timeout;
      left = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(rest).count());
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
  m_taken = std::max(m_taken, in.available);
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
  if (m_unplugged) return;
  if (m_stalled) {
    if (m_log) m_log->note("stalled: %zu byte(s) not sent", n);
    return;
  }
  if (m_closed) {
    if (m_log) m_log->note("terminal closed: %zu byte(s) not sent", n);
    return;
  }
  // The answer starts once the bytes it follows have arrived and the line is
  // free; its last byte arrives 11 bit times per byte later, and not before
  // the adapter's latency timer since the host's last byte has run out.
  m_outFree = std::max({Clock::now(), m_outFree, m_taken}) + byteTime() * static_cast<long>(n);
  if (m_latency > Clock::duration::zero()) m_outFree = std::max(m_outFree, m_taken + m_latency);
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
  if (m_unplugged) return;
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
  if (m_log) m_log->note("line stalled for good");
}

void HostLine::unplug() {
  if (m_unplugged) return;
  m_unplugged = true;
  m_in.clear();
  if (m_master >= 0) close(m_master);
  m_master = -1;
  if (m_log) m_log->note("the terminal is gone");
}

bool HostLine::takeHangup() {
  const bool h = m_hangup;
  m_hangup = false;
  return h;
}

}  // namespace kv32sim
