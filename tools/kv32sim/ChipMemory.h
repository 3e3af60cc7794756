// Everything a simulated chip keeps across power cycles, and its state file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Catalogue.h"

namespace kv32sim {

constexpr uint32_t kFlashBase = 0x08000000;
constexpr uint32_t kBank3Base = 0x08400000;
constexpr uint32_t kBank3SectorSize = 4096;
constexpr uint32_t kBank3MaxSize = 16u * 1024 * 1024;
constexpr uint32_t kBank3FirstSector = 0x8000;
constexpr uint32_t kSystemBase = 0x1FFF0000;  // system memory up to 0x1FFFFFFF
constexpr uint32_t kSystemSize = 0x10000;
constexpr uint32_t kSramBase = 0x20000000;
constexpr uint32_t kSramSize = 0x10000;
constexpr uint32_t kBidBlock = 0x1FFFB100;
constexpr uint32_t kFlashSizeRegister = 0x1FFFF7E0;
constexpr uint32_t kUidAddress = 0x1FFFF7E8;

struct ChipMemory {
  std::vector<uint8_t> flash;   // main flash
  std::vector<uint8_t> system;  // 0x1FFF0000.. : BID, UID, size, option bytes, OTP
  std::vector<uint8_t> bank3;   // external SPI flash (empty until enabled)
  bool bank3Enabled = false;
  uint8_t bank3Type = 0;
  uint32_t bank3FlashDA = 0;
  uint8_t remap = 0;
  bool slibEnabled = false;
  uint32_t slibPassword = 0;
  uint16_t slibStart = 0, slibDataStart = 0, slibEnd = 0;

  // A fresh chip of this profile: flash erased, identity in system memory,
  // option bytes at their defaults (no protection).
  void init(const ChipProfile& p, const uint8_t* uid12);
  // Option bytes back to their defaults (FAP 0xA5, everything else 0xFF),
  // each followed by its complement.
  void defaultOptionBytes(const ChipProfile& p);
  uint8_t* sys(uint32_t address) { return &system[address - kSystemBase]; }
  const uint8_t* sys(uint32_t address) const { return &system[address - kSystemBase]; }
};

// State file: "KV32SIMSTATE 1" line, then tagged binary sections. Loading
// checks the identifier and every length before anything is taken.
bool saveState(const ChipMemory& m, const ChipProfile& p, const std::string& path, std::string& error);
bool loadState(ChipMemory& m, const ChipProfile& p, const std::string& path, std::string& error);
// The whole of a file; false with error "cannot read PATH" when it cannot be read.
bool readWhole(const std::string& path, std::string& contents, std::string& error);

}  // namespace kv32sim
