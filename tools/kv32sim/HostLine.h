// The simulator's end of the line: a pseudo-terminal master with byte pacing,
// injected byte faults, a trace, and tracking of the host opening and closing
// the terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace kv32sim {

class FaultPlan;
class SimLog;

class HostLine {
 public:
  using Clock = std::chrono::steady_clock;

  HostLine() = default;
  ~HostLine();
  HostLine(const HostLine&) = delete;
  HostLine& operator=(const HostLine&) = delete;

  // Creates the pseudo-terminal pair and puts the terminal side in raw mode.
  bool open(std::string& error);
  const std::string& terminalPath() const { return m_slavePath; }

  // 0: no pacing. Otherwise every byte takes 11 bit times in each direction.
  // A byte from the host reaches the chip 11 bit times after the line was
  // free for it; an answer leaves no earlier than the bytes it follows have
  // arrived, and reaches the host 11 bit times per byte later.
  void setBaud(unsigned baud) { m_baud = baud; }
  // A USB serial adapter's latency timer: every answer reaches the host no
  // earlier than ms after the host's last byte arrived (0: off).
  void setLatency(unsigned ms) { m_latency = std::chrono::milliseconds(ms); }
  void setFaults(FaultPlan* faults) { m_faults = faults; }
  void setLog(SimLog* log) { m_log = log; }
  // Set from a signal handler: every wait returns Stop soon after.
  void setStopFlag(const std::atomic<bool>* stop) { m_stop = stop; }

  enum class Got { Byte, Timeout, Hangup, Stop };
  // Next byte from the host. timeoutMs < 0 waits without limit; the limit
  // counts from the arrival of the last byte taken. Hangup is reported once
  // each time the host closes the terminal. Taking a byte does not wait for
  // its arrival on the paced line: whatever the chip does next in answer
  // (write, busyUntil, now) does.
  Got readByte(uint8_t& byte, int timeoutMs);
  // The chip's present: the arrival of the last byte it took, or the clock
  // when that lies in the past.
  Clock::time_point now() const;
  // Waits until the chip's present plus t (work such as erasing).
  void busyFor(Clock::duration t);
  // Sends bytes to the host (paced, with byte faults). Nothing is sent while
  // the terminal is closed or the line is stalled.
  void write(const uint8_t* data, size_t n);
  // Drops what the host has sent so far and whatever follows within quietMs.
  void discardInput(int quietMs);
  // Goes silent for good: input is swallowed and nothing is sent, whatever
  // the host does (closing and reopening its terminal included: a real chip
  // never sees that).
  void stall();
  bool stalled() const { return m_stalled; }
  // True once per close of the terminal by the host (since the last call).
  bool takeHangup();
  // The adapter is pulled out: the master side closes (the host's terminal
  // hangs up and its device node goes away), nothing more is sent or taken,
  // and every later read reports Stop.
  void unplug();
  bool unplugged() const { return m_unplugged; }

 private:
  enum class Fill { Data, Timeout, Hangup, Stop };
  Fill fill(int timeoutMs);
  Clock::duration byteTime() const;
  void sleepUntil(Clock::time_point t) const;
  bool stopping() const { return m_stop && m_stop->load(); }

  int m_master = -1;
  std::string m_slavePath;
  unsigned m_baud = 0;
  Clock::duration m_latency{};
  bool m_unplugged = false;
  FaultPlan* m_faults = nullptr;
  SimLog* m_log = nullptr;
  const std::atomic<bool>* m_stop = nullptr;
  bool m_closed = true;   // no host has the terminal open
  bool m_hangup = false;  // a close not yet taken
  bool m_stalled = false;
  struct InByte { uint8_t value; Clock::time_point available; };
  std::deque<InByte> m_in;
  Clock::time_point m_inFree{};   // host to chip: line busy until then
  Clock::time_point m_outFree{};  // chip to host: line busy until then
  Clock::time_point m_taken{};    // arrival of the last byte the chip took
};

}  // namespace kv32sim
