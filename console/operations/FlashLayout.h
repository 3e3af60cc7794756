#ifndef TARNFLASH_OPERATIONS_FLASHLAYOUT_H
#define TARNFLASH_OPERATIONS_FLASHLAYOUT_H

// The chip's address windows and sector numbering as the flash operations
// and the flash commands see them.

#include "files/FileImage.h"

#include <QList>

#include <cstdint>
#include <functional>

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

// Every sector the ranges touch (main flash from 0, external bank from
// 0x8000), in first-seen order without repeats.
QList<int> SectorsOfRanges(const QList<AddressRange>& ranges, unsigned int sectorSize);

// Where a sector of the program's numbering lies: its first address and its
// size (main-flash sectors of sectorSize, external-bank sectors of 4 KB).
uint32_t SectorAddress(int sector, unsigned int sectorSize);
uint32_t SectorSize(int sector, unsigned int sectorSize);

// Calls part(address, offset into the run, length) for each stretch of the
// run [address, address + length) that lies in the ranges (address order,
// not overlapping); stops at the first non-zero result and returns it.
unsigned int ForEachPartIn(
    const QList<AddressRange>& ranges, uint64_t address, uint64_t length,
    const std::function<unsigned int(uint32_t at, uint64_t offset, uint64_t n)>& part);

}  // namespace FlashLayout

#endif
