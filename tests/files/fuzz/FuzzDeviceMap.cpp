// Device-map parser: an accepted map has a sane packet size and ascending,
// non-overlapping runs that stay below 4 GB.
#include <cstdlib>
#include <string>

#include "FuzzEntries.h"
#include "Files.h"
#include "MemoryMap.h"

using namespace libfiles;

int FuzzDeviceMap(const uint8_t* data, size_t size) {
  MemoryMap map;
  if (map.parse(std::string(reinterpret_cast<const char*>(data), size)) != FILES_NOERROR) return 0;
  auto check = [](bool ok) {
    if (!ok) std::abort();
  };
  check(map.packetSize >= 4 && map.packetSize <= 252 && map.packetSize % 4 == 0);
  check(map.sectorsPerSector >= 1 && map.sectorsPerSector <= 255);
  check(!map.runs.empty() && map.sectorCount <= FILES_MAX_SECTORS);
  uint64_t next = 0, total = 0;
  for (const SectorRun& r : map.runs) {
    check(r.size > 0 && r.count > 0 && r.address >= next);
    next = uint64_t(r.address) + uint64_t(r.size) * r.count;
    check(next <= (uint64_t(1) << 32));
    total += r.count;
  }
  check(total == map.sectorCount);
  return 0;
}
