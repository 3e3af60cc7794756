// The chip behind the bootloader: memory rules, option bytes, protection,
// external bank, OTP and sLib. Knows nothing about links or framing; every
// method answers whether the chip accepts the request (ACK) or not (NACK).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Catalogue.h"
#include "ChipMemory.h"

namespace kv32sim {

class SimLog;

class ChipModel {
 public:
  ChipModel(const ChipProfile& profile, const uint8_t* uid12);
  void setLog(SimLog* log) { m_log = log; }
  const ChipProfile& profile() const { return m_p; }
  ChipMemory& memory() { return m_m; }

  // Identification.
  std::vector<uint8_t> commandList(bool can) const;  // codes listed by GET
  std::vector<uint8_t> idAnswer() const;             // GET_ID payload
  void versionAnswer(uint8_t out[3]) const;          // GET_VER_ROPS payload

  // Protection state in force (loaded at the last reset).
  int accessLevel() const;  // 0 none, 1, 2
  // Whether the command may run at all in the present protection state.
  bool commandAllowed(uint8_t cmd) const;
  bool listed(uint8_t cmd, bool can) const;

  // Memory.
  bool read(uint32_t address, uint32_t n, uint8_t* out) const;
  // Refused: outside writable memory, protected or sLib sectors, bytes that
  // are neither erased (0xFF) nor already equal, locked OTP.
  bool write(uint32_t address, const uint8_t* data, uint32_t n);
  // Worn flash cells (a fault): after an accepted write the given bits of
  // these bytes read 1, whatever was programmed.
  void setWeakCells(const std::map<uint32_t, uint8_t>& cells) { m_weak = cells; }
  // Page numbers below 0x8000 are main-flash sectors, 0x8000 + k the external
  // bank's 4 KB sectors. All are checked before any is erased.
  bool eraseSectors(const std::vector<uint16_t>& pages);
  // 0xFFFF mass, 0xFFFE bank 1, 0xFFFD bank 2, 0xFFFC external bank,
  // 0xFFFB 64 KB block at blockAddress.
  bool eraseCode(uint16_t code, uint32_t blockAddress);
  // Sectors an erase request covers (for the chip-side erase delay).
  uint32_t lastEraseSectors() const { return m_lastErased; }
  bool firmwareCrc(uint32_t address, uint32_t sectors, uint32_t& crc) const;

  // Protection commands; the bootloader resets the chip afterwards.
  bool eraseProgramProtect(const std::vector<uint8_t>& bits);
  bool eraseProgramUnprotect();
  void eraseProgramTempUnprotect();
  bool accessProtect(uint8_t level);
  bool accessUnprotect();
  bool accessTempUnprotect();

  // Features.
  bool enableBank3(uint8_t type, uint32_t size, uint32_t flashDA);
  bool remap(uint8_t flag);
  uint8_t enableSlib(uint32_t password, uint16_t start, uint16_t dataStart, uint16_t end);
  uint8_t disableSlib(uint32_t password);
  std::vector<uint8_t> slibStatus() const;
  bool goAllowed(uint32_t address) const;

  // Reset: option bytes are loaded, temporary unprotects end.
  void reset();
  // Option bytes written since the last reset.
  bool optionBytesChanged() const { return m_optionsChanged; }
  // The bootloader's level-2 starting state and similar set-ups.
  void setAccessLevel(uint8_t level);

  static uint32_t crc32Words(const uint8_t* data, size_t n, uint32_t crc = 0xFFFFFFFF);

 private:
  std::map<uint32_t, uint8_t> m_weak;
  enum class Area { None, Flash, Bank3, Sram, Option, Otp, Lock, System };
  Area area(uint32_t address, uint32_t n) const;
  // apply false: only checks.
  bool store(uint32_t address, const uint8_t* data, uint32_t n, bool apply);
  bool storeAcross(uint32_t address, const uint8_t* data, uint32_t n, bool apply);
  bool sectorProtected(uint32_t page) const;  // erase/program protection
  bool inSlib(uint32_t page) const;
  bool slibCode(uint32_t page) const;
  bool eraseFlashRange(uint32_t first, uint32_t count, bool skipSlib);
  void setOption(uint32_t index, uint8_t value);
  uint8_t option(uint32_t index, bool* valid = nullptr) const;
  bool level2Locked() const;

  ChipProfile m_p;
  ChipMemory m_m;
  std::vector<uint8_t> m_sram;
  SimLog* m_log = nullptr;
  int m_level = 0;
  std::vector<uint8_t> m_epp;  // loaded EPP bytes
  bool m_eppLifted = false;
  bool m_accessLifted = false;
  bool m_optionsChanged = false;
  uint32_t m_lastErased = 0;
};

}  // namespace kv32sim
