// The CAN bridge: 0xBF frames that name the command code beside at most 8
// data bytes, and the bridge's configuration frame.
#pragma once

#include "ChipPort.h"

namespace kv32sim {

class CanLink : public ChipPort {
 public:
  using ChipPort::ChipPort;
  Next nextCommand(uint8_t& cmd) override;
  bool receive(uint8_t* data, size_t n) override;
  void send(const uint8_t* data, size_t n) override { queue(Kind::Data, data, n); }
  void sendBlock(const uint8_t* data, size_t n) override { queue(Kind::Block, data, n); }
  void sendAck(bool ok) override;
  void chipReset() override { m_in.clear(); }
  void protocolError() override { m_in.clear(); }
  bool bareFrame() const override { return m_bare; }

 private:
  enum class Pump { Frame, Session, Timeout, Hangup, Stop };
  // Reads and serves one frame; a write frame sets m_written.
  Pump pump(int firstMs);
  void dataFrame();

  bool m_bare = false;
  int m_current = -1;       // the command in progress, -1 while waiting for one
  bool m_foreign = false;   // a frame named another command meanwhile
  bool m_written = false;   // the last frame delivered data (or a bare command)
  uint8_t m_writeCode = 0;  // its command code
  bool m_writeBare = false;
  uint8_t m_speed = 2;
};

}  // namespace kv32sim
