#include "operations/FlashLayout.h"

#include "device/Device.h"

#include <cstdlib>

namespace FlashLayout {

bool IsUsableSectorSize(unsigned int sectorSize)
{
    return sectorSize >= 1024 && sectorSize <= 128 * 1024;
}

int SeriesOf(const CDevice* device)
{
    if (!device)
        return 0;
    return static_cast<int>(std::strtol(device->m_StrSerial.c_str(), nullptr, 16));
}

int FlashGetSectorIndex(uint32_t address, unsigned int sectorSize)
{
    if (address < kFlashBase)
        return -1;
    if (address <= kMainFlashLast) {
        if (!IsUsableSectorSize(sectorSize))
            return -1;
        return static_cast<int>((address - kFlashBase) / sectorSize);
    }
    return static_cast<int>((address - kBank3Base) / kBank3SectorSize) + kBank3FirstSector;
}

bool PlaceRun(uint64_t address, uint32_t offset, uint64_t length, uint32_t& placed)
{
    if (address > 0xFFFFFFFFull)
        return false;
    placed = static_cast<uint32_t>(address) + offset;
    return uint64_t(placed) + length <= 0x100000000ull;
}

}  // namespace FlashLayout
