// What the bootloader sees of its link: commands and parameter bytes from the
// host, answers and acknowledges to it. Each link front-end (USART, I2C, SPI,
// CAN bridge) implements it over the host line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace kv32sim {

class FaultPlan;
class HostLine;
class SimLog;

class ChipPort {
 public:
  enum class Next { Command, Hangup, Stop };

  ChipPort(HostLine& line, SimLog* log, FaultPlan* faults, int timeoutMs);
  virtual ~ChipPort() = default;
  ChipPort(const ChipPort&) = delete;
  ChipPort& operator=(const ChipPort&) = delete;

  // Waits for the next command. Hangup: the host closed the terminal.
  virtual Next nextCommand(uint8_t& cmd) = 0;
  // Parameter bytes of the command in progress; false when the host went
  // quiet, closed the terminal or the simulator stops: the command is dropped.
  virtual bool receive(uint8_t* data, size_t n) = 0;
  virtual void send(const uint8_t* data, size_t n) = 0;
  // The GET block (what a bridge's variable read returns).
  virtual void sendBlock(const uint8_t* data, size_t n) = 0;
  virtual void sendAck(bool ok) = 0;
  // The chip restarted (reset, jump, protection change).
  virtual void chipReset() {}
  // The host sent something malformed: forget the rest of it.
  virtual void protocolError() {}
  // CAN: the command's first frame carried no data.
  virtual bool bareFrame() const { return false; }
  // The chip works for a while before its next answer (erase, programming).
  // Where the host waits for the answer it simply comes later; SPI answers
  // the acknowledge polling with 0x00 meanwhile.
  virtual void busyFor(std::chrono::microseconds t);
  // Silent for good.
  void stall();
  // Called when the host starts a session (the start byte once started, a
  // bridge configuration frame); answers whether the chip was reset.
  void setSessionHook(std::function<bool()> hook) { m_sessionHook = std::move(hook); }

 protected:
  enum class Kind { Data, Block, Ack };
  struct Item {
    Kind kind;
    std::vector<uint8_t> bytes;
    size_t pos;
  };
  void queue(Kind kind, const uint8_t* data, size_t n);
  size_t pending() const;
  // Takes n pending bytes whatever their kind; false (nothing taken) when
  // fewer are pending.
  bool take(size_t n, std::vector<uint8_t>& out);

  enum class Rd { Ok, Timeout, Hangup, Stop };
  // Reads n bytes of one frame; the first may wait firstMs (<0: no limit),
  // the others the inter-byte limit.
  Rd readFrame(uint8_t* data, size_t n, int firstMs);
  // A read that brought no frame as the link's pump result (its Pump has
  // Timeout, Hangup and Stop); false for Rd::Ok.
  template <class Pump>
  static bool noFrame(Rd r, Pump& out) {
    switch (r) {
      case Rd::Ok: return false;
      case Rd::Timeout: out = Pump::Timeout; break;
      case Rd::Hangup: out = Pump::Hangup; break;
      case Rd::Stop: out = Pump::Stop; break;
    }
    return true;
  }
  // Sends one bridge answer.
  void answer(std::initializer_list<uint8_t> head, const std::vector<uint8_t>& tail = {});

  bool sessionStarts() { return m_sessionHook && m_sessionHook(); }

  HostLine& m_line;
  SimLog* m_log;
  std::function<bool()> m_sessionHook;
  FaultPlan* m_faults;
  int m_timeoutMs;
  std::deque<Item> m_out;  // answers waiting for the host's reads (bridges)
  std::deque<uint8_t> m_in;  // bytes delivered to the chip, not yet taken
};

}  // namespace kv32sim
