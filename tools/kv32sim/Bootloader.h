// The chip's factory bootloader: waits for commands on its link, checks them
// against the protection state and serves them on the chip model. The byte
// sequences of the commands differ between the reference form (USART, I2C,
// SPI) and CAN; each is a subclass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv32sim {

class ChipModel;
class ChipPort;
class FaultPlan;
class SimLog;

struct ChipTiming {
  unsigned eraseMsPerSector = 0;
  unsigned writeUsPerByte = 0;
};

const char* commandName(uint8_t cmd);

class Bootloader {
 public:
  Bootloader(ChipModel& chip, ChipPort& port, FaultPlan* faults, SimLog* log, ChipTiming timing);
  virtual ~Bootloader() = default;
  Bootloader(const Bootloader&) = delete;
  Bootloader& operator=(const Bootloader&) = delete;

  // Serves until the simulator is asked to stop.
  void run();

 protected:
  virtual void serve(uint8_t cmd) = 0;
  virtual bool can() const = 0;

  // The chip restarts: option bytes are loaded, the link starts over.
  void restart();
  // Each answers the final acknowledge of its command.
  void finishErase(uint16_t code, const std::vector<uint16_t>& pages, uint32_t blockAddress);
  void finishWrite(uint32_t address, const std::vector<uint8_t>& data);
  void getBlock(std::vector<uint8_t>& block) const;  // [N][version][N codes]
  void idBlock(std::vector<uint8_t>& block) const;   // [N - 1][N identifier bytes]
  // Commands that change protection: acknowledge, then restart on success.
  void finishProtection(bool ok);
  // The commands every engine serves alike, each carrying nothing after its
  // opening (GET, GET_VER_ROPS, GET_ID, the unprotects and the protect,
  // sLib status, reset): false for any other command.
  bool serveBare(uint8_t cmd);
  // A WRITE's address: false, logged and refused with NACK, where the chip
  // has no memory.
  bool acceptWriteAt(uint32_t address);
  void log(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));

  ChipModel& m_chip;
  ChipPort& m_port;
  FaultPlan* m_faults;
  SimLog* m_log;
  ChipTiming m_timing;
};

// XOR of a byte string.
uint8_t xorOf(const uint8_t* data, size_t n, uint8_t seed = 0);
uint32_t be32(const uint8_t* p);

}  // namespace kv32sim
