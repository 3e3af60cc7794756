// Command phases as they travel on the USART and the I2C and SPI bridges:
// every parameter frame carries its check byte, every step is acknowledged.
#pragma once

#include "Bootloader.h"

namespace kv32sim {

class ReferenceBootloader : public Bootloader {
 public:
  using Bootloader::Bootloader;

 protected:
  void serve(uint8_t cmd) override;
  bool can() const override { return false; }

 private:
  // [A3][A2][A1][A0][XOR]; false when it does not arrive (nothing answered)
  // or its check byte is wrong (NACK answered).
  bool addressFrame(uint32_t& address);
  // A received frame whose check byte is wrong: NACK and forget the rest.
  void refuse(const char* what);
  void read();
  void go();
  void write();
  void erase();
  void eraseExt();
  void eraseProgramProtect();
  void firmwareCrc();
  void enableBank3();
  void enableSlib();
  void disableSlib();
};

}  // namespace kv32sim
