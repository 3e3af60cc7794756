#ifndef TARNFLASH_OPERATIONS_FLASHLAYOUT_H
#define TARNFLASH_OPERATIONS_FLASHLAYOUT_H

// The chip's address windows and sector numbering as the flash operations
// and the flash commands see them.

#include <cstdint>

class CDevice;

namespace FlashLayout {

constexpr uint32_t kFlashBase = 0x08000000;     // main flash, sector 0
constexpr uint32_t kMainFlashLast = 0x083FFFFF;  // main-flash addresses end below 4 MB
constexpr uint32_t kBank3Base = 0x08400000;     // external SPI flash bank
constexpr uint32_t kBank3SectorSize = 4096;
constexpr int kBank3FirstSector = 0x8000;       // number of the bank's first sector

// Sector sizes the block and sector arithmetic accepts (1 KB .. 128 KB).
bool IsUsableSectorSize(unsigned int sectorSize);

// The device's series code (its serial text read as hexadecimal); 0 without one.
int SeriesOf(const CDevice* device);

// Sector number of an address: main-flash sectors from 0, external-bank
// sectors from 0x8000; -1 below the flash or with an unusable sector size.
int FlashGetSectorIndex(uint32_t address, unsigned int sectorSize);

// Where a run of image bytes lands: address + offset, the one address sum
// of the flash operations, done in 32 bits (an offset moves data down as
// well as up). False when the run would pass the end of the 32-bit address
// space, or does not start inside it.
bool PlaceRun(uint64_t address, uint32_t offset, uint64_t length, uint32_t& placed);

}  // namespace FlashLayout

#endif
