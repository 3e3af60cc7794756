// The bootloader protocol directly on the UART: the start byte 0x7F, then
// commands as [code][code XOR 0xFF] and their phases.
#pragma once

#include "ChipPort.h"

namespace kv32sim {

class UsartLink : public ChipPort {
 public:
  using ChipPort::ChipPort;
  Next nextCommand(uint8_t& cmd) override;
  bool receive(uint8_t* data, size_t n) override;
  void send(const uint8_t* data, size_t n) override;
  void sendBlock(const uint8_t* data, size_t n) override;
  void sendAck(bool ok) override;
  void chipReset() override { m_started = false; }
  void protocolError() override;

 private:
  bool m_started = false;  // the start byte has been answered since reset
};

}  // namespace kv32sim
