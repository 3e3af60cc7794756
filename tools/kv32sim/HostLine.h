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
  void setBaud(unsigned baud) { m_baud = baud; }
  void setFaults(FaultPlan* faults) { m_faults = faults; }
  void setLog(SimLog* log) { m_log = log; }
  // Set from a signal handler: every wait returns Stop soon after.
  void setStopFlag(const std::atomic<bool>* stop) { m_stop = stop; }

  enum class Got { Byte, Timeout, Hangup, Stop };
  // Next byte from the host. timeoutMs < 0 waits without limit. Hangup is
  // reported once each time the host closes the terminal.
  Got readByte(uint8_t& byte, int timeoutMs);
  // Sends bytes to the host (paced, with byte faults). Nothing is sent while
  // the terminal is closed or the line is stalled.
  void write(const uint8_t* data, size_t n);
  // Drops what the host has sent so far and whatever follows within quietMs.
  void discardInput(int quietMs);
  // Goes silent: input is swallowed and nothing is sent until the host closes
  // and reopens the terminal.
  void stall();
  bool stalled() const { return m_stalled; }
  // True once per close of the terminal by the host (since the last call).
  bool takeHangup();

 private:
  enum class Fill { Data, Timeout, Hangup, Stop };
  Fill fill(int timeoutMs);
  Clock::duration byteTime() const;
  void resetTerminal();
  void sleepUntil(Clock::time_point t) const;

  int m_master = -1;
  std::string m_slavePath;
  unsigned m_baud = 0;
  FaultPlan* m_faults = nullptr;
  SimLog* m_log = nullptr;
  const std::atomic<bool>* m_stop = nullptr;
  bool m_closed = true;   // no host has the terminal open
  bool m_hangup = false;  // a close not yet taken
  bool m_stalled = false;
  struct InByte { uint8_t value; Clock::time_point available; };
  std::deque<InByte> m_in;
  Clock::time_point m_inFree{};
  Clock::time_point m_outFree{};
};

}  // namespace kv32sim
