// Command sequences on the CAN bridge: the command code travels in each
// frame, parameters carry no check bytes, and a few commands open with a bare
// frame that is acknowledged first.
#pragma once

#include "Bootloader.h"

namespace kv32sim {

class CanBootloader : public Bootloader {
 public:
  using Bootloader::Bootloader;

 protected:
  void serve(uint8_t cmd) override;
  bool can() const override { return true; }

 private:
  void read();
  void write();
  void eraseExt();
};

// Commands whose first frame carries no data and is acknowledged on its own.
bool canOpensBare(uint8_t cmd);

}  // namespace kv32sim
