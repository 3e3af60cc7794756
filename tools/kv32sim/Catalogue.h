// Chip identities from the device-map catalogue, completed with what the
// silicon of each series has (option-byte block, OTP, banks, protection).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv32sim {

struct ChipProfile {
  std::string name;            // family name from the catalogue, e.g. KV32S04
  unsigned series = 0;         // series code (the "Serial" value, hexadecimal)
  uint32_t pid = 0;            // product identifier
  uint32_t flashKB = 0;        // from the identifier
  uint32_t sectorSize = 0;     // bytes
  uint32_t sectorsPerBit = 1;  // sectors per erase/program protection bit
  uint32_t blockSize = 0;      // 64 KB blocks (0: no block erase)
  bool twoBanks = false;       // second bank erased by its own code
  bool externalBank = false;   // external SPI flash capable
  bool oneTimeLevel2 = false;  // level-2 protection is for ever
  uint32_t optionAddress = 0x1FFFF800;
  uint32_t optionValues = 24;  // option bytes (each stored with its complement)
  uint32_t eppCount = 4;       // erase/program protection bytes
  uint32_t otpAddress = 0, otpLength = 0, lockAddress = 0, lockLength = 0;
  bool slibExtended = false;   // sLib status answer of 16 bytes instead of 12
  uint16_t bid = 0x4602;       // bootloader BID (major, minor)
  uint8_t version = 0x31;      // bootloader version
  bool plainErase = false;     // lists ERASE (0x43)
  bool extendedErase = true;   // lists ERASE_EXT (0x44)
  std::vector<uint8_t> unlisted;  // codes left out of GET (and so refused)
  // A peer device, not a KV32: its bootloader speaks the same USART protocol
  // with the basic command set only, and GET_ID answers this 2-byte
  // identifier. 0 for a KV32.
  uint16_t peerId = 0;

  uint32_t sectorCount() const { return sectorSize ? flashKB * 1024u / sectorSize : 0; }
  // Index of the option byte that holds EPP[k], k < eppCount.
  uint32_t eppIndex(uint32_t k) const;
};

// Flash size in KB that the link decodes from bits 6-10 of an identifier.
uint32_t flashKBFromPid(uint32_t pid);

// Reads every *.KVmap of dir and finds the chip named by spec: a family name
// (its first identifier), NAME_<size>K, or an 8-digit identifier. The BID
// decides the option-byte size of the series that depend on it, so it is
// given here.
bool findChip(const std::string& dir, const std::string& spec, uint16_t bid,
              ChipProfile& out, std::string& error);

// The peer devices kv32sim also plays, by name: "PEER-0414" (512 KB of flash
// in 2 KB pages, identifier 0x0414), so that other programmers can be
// measured on the same simulated line. False for any other name.
bool findPeer(const std::string& spec, ChipProfile& out);

}  // namespace kv32sim
