#include "operations/FlashLayout.h"

#include "device/Device.h"

#include <QSet>

#include <algorithm>
#include <cstdlib>

namespace FlashLayout {

namespace {

// Appends every sector that [begin, end] touches, main flash and external
// bank alike, skipping sectors already seen.
void AddSectorsOfRange(uint64_t begin, uint64_t end, unsigned int sectorSize, QList<int>& out,
                       QSet<int>& seen)
{
    auto add = [&](int s) {
        if (s >= 0 && !seen.contains(s)) {
            seen.insert(s);
            out.append(s);
        }
    };
    const uint64_t top = 0xFFFFFFFFull;
    if (begin > top)
        return;
    if (end > top)
        end = top;
    if (begin < kFlashBase)
        begin = kFlashBase;
    if (end < begin)
        return;
    if (begin <= kMainFlashLast) {
        uint64_t mainEnd = end < kMainFlashLast ? end : kMainFlashLast;
        int first = FlashGetSectorIndex(static_cast<uint32_t>(begin), sectorSize);
        int last = FlashGetSectorIndex(static_cast<uint32_t>(mainEnd), sectorSize);
        if (first >= 0)
            for (int s = first; s <= last; ++s)
                add(s);
        if (end <= kMainFlashLast)
            return;
        begin = kBank3Base;
    }
    int first = FlashGetSectorIndex(static_cast<uint32_t>(begin), sectorSize);
    int last = FlashGetSectorIndex(static_cast<uint32_t>(end), sectorSize);
    for (int s = first; s <= last; ++s)
        add(s);
}

}  // namespace

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

QList<int> SectorsOfRanges(const QList<AddressRange>& ranges, unsigned int sectorSize)
{
    QList<int> sectors;
    QSet<int> seen;
    for (const AddressRange& range : ranges)
        if (range.length > 0)
            AddSectorsOfRange(range.address, range.address + range.length - 1, sectorSize, sectors,
                              seen);
    return sectors;
}

uint32_t SectorAddress(int sector, unsigned int sectorSize)
{
    if (sector >= kBank3FirstSector)
        return kBank3Base + static_cast<uint32_t>(sector - kBank3FirstSector) * kBank3SectorSize;
    return kFlashBase + static_cast<uint32_t>(sector) * sectorSize;
}

uint32_t SectorSize(int sector, unsigned int sectorSize)
{
    return sector >= kBank3FirstSector ? kBank3SectorSize : sectorSize;
}

unsigned int ForEachPartIn(
    const QList<AddressRange>& ranges, uint64_t address, uint64_t length,
    const std::function<unsigned int(uint32_t at, uint64_t offset, uint64_t n)>& part)
{
    const uint64_t end = address + length;
    for (const AddressRange& range : ranges) {
        const uint64_t from = std::max<uint64_t>(address, range.address);
        const uint64_t to = std::min<uint64_t>(end, range.address + range.length);
        if (from >= to)
            continue;
        const unsigned int r = part(static_cast<uint32_t>(from), from - address, to - from);
        if (r != 0)
            return r;
    }
    return 0;
}

}  // namespace FlashLayout
