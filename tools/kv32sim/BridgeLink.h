// The I2C and SPI bridges: framed requests on the serial line, each write
// frame delivering bytes to the chip and each read frame fetching its answer.
// SPI adds the acknowledge polling, the handshake byte 0x86 and the sync
// exchange 0x5A/0xA5.
#pragma once

#include "ChipPort.h"

namespace kv32sim {

class BridgeLink : public ChipPort {
 public:
  enum class Bus { I2C, SPI };
  BridgeLink(Bus bus, HostLine& line, SimLog* log, FaultPlan* faults, int timeoutMs, uint16_t i2cAddress);

  Next nextCommand(uint8_t& cmd) override;
  bool receive(uint8_t* data, size_t n) override;
  void send(const uint8_t* data, size_t n) override;
  void sendBlock(const uint8_t* data, size_t n) override;
  void sendAck(bool ok) override;
  void chipReset() override;
  void protocolError() override { m_in.clear(); }
  void busyFor(std::chrono::microseconds t) override;

 private:
  // Sub-command numbers of one bus.
  struct Codes {
    uint8_t massWriteStart, massWriteChunk, massWriteEnd, singleWrite;
    uint8_t massReadStart, massReadChunk, singleRead, variableRead, writeRead;
    uint8_t configType, configCount;
  };
  enum class Pump { Frame, Timeout, Hangup, Stop, Resync };
  // Reads and serves one frame from the host.
  Pump pump(int firstMs);
  void configFrame();
  void dataFrame();
  // Chip output for a read of n bytes; SPI answers 0x00 where the chip has
  // nothing to say, I2C a busy status.
  bool chipRead(size_t n, std::vector<uint8_t>& out);
  void deliver(const std::vector<uint8_t>& bytes);
  bool addressed() const;

  Bus m_bus;
  Codes m_c;
  uint16_t m_chipAddress;
  uint16_t m_address;  // as configured by the host
  bool m_polled = false;     // SPI: the pending acknowledge has been polled
  bool m_resync = false;     // SPI: a sync exchange restarted the session
  std::chrono::steady_clock::time_point m_readyAt{};  // SPI: busy until then
  // Mass transfers in progress.
  std::vector<uint8_t> m_massWrite;
  size_t m_massWriteSize = 0;
  bool m_massWriting = false;
  std::vector<uint8_t> m_massRead;
  size_t m_massReadPos = 0;
};

}  // namespace kv32sim
