#ifndef TARNFLASH_CLI_FLASHCOMMANDS_H
#define TARNFLASH_CLI_FLASHCOMMANDS_H

// Checks of the flash commands that need the connected chip.

#include <cstdint>
#include <string>

class CBootLoader;
class CCom;

// Whether the image file can go to the chip as asked: the file exists and
// opens for the chip, and every byte lands inside the main flash or inside
// the enabled external bank. Prints the reason when it cannot.
bool DownloadFileAndAddressCheck(const std::string& name, uint32_t address, CBootLoader* link);

// Whether every sector of begin..end exists on the chip: main-flash sectors
// below the chip's count, external-bank sectors (from 0x8000) inside the
// enabled bank.
bool IsSectorRangeOnChip(int begin, int end, CCom* com);

#endif
