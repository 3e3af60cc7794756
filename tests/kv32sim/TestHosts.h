// A tiny host for each link, written from the protocol's byte sequences and
// independent of the product's libraries: enough to drive the simulator.
#pragma once

#include <memory>
#include <string>

#include "TestLine.h"

namespace kvtest {

// Outcome of one command as the host sees it.
enum Res { kOk = 0, kRefusedFirst = 1, kRefusedLater = 2, kLinkError = -1 };

class BootHost {
 public:
  explicit BootHost(TestLine& line) : m_line(line) {}
  virtual ~BootHost() = default;
  // The link's start sequence (start byte or bridge configuration).
  virtual bool connect() = 0;
  virtual Res get(Bytes& codes, uint8_t& version) = 0;
  virtual Res getId(Bytes& id) = 0;                      // 5 bytes
  virtual Res getVersion(Bytes& v) = 0;                  // 3 bytes
  virtual Res read(uint32_t address, size_t n, Bytes& out) = 0;
  virtual Res write(uint32_t address, const Bytes& data) = 0;
  virtual Res erasePages(const std::vector<uint16_t>& pages) = 0;
  virtual Res eraseCode(uint16_t code) = 0;
  // 0x73, 0x82, 0x92, 0xD4: acknowledge, work, acknowledge.
  virtual Res twoAck(uint8_t cmd) = 0;
  virtual Res protectBits(const Bytes& bits) = 0;
  virtual Res crc(uint32_t address, uint16_t sectors, uint32_t& value) = 0;
  virtual Res protectLevel(uint8_t level) = 0;
  virtual Res slibStatus(Bytes& status) = 0;             // 12 bytes
  TestLine& line() { return m_line; }

 protected:
  TestLine& m_line;
};

// "usart", "i2c", "spi" or "can".
std::unique_ptr<BootHost> makeHost(const std::string& link, TestLine& line);

uint8_t xorOf(const Bytes& b, size_t from = 0, size_t to = SIZE_MAX);

}  // namespace kvtest
