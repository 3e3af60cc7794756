// Where the device-map catalogue lives, and whether it fits the chip.
#ifndef TARNFLASH_DEVICE_MAPCATALOGUE_H
#define TARNFLASH_DEVICE_MAPCATALOGUE_H

#include <QString>

#include <string>

class CDevice;

// "./Map/" when the working directory has a Map folder that only its owners
// can change; otherwise the catalogue ../share/tarnflash/Map/ beside the
// running program (installed, and in the build tree alike). A ./Map that
// others can write (world-writable, or owned by someone other than the
// user, root or the working folder's owner; the folder or any map file in
// it) is ignored with one line on standard error naming the catalogue used
// instead. Empty when there is no usable catalogue; else ends with a slash.
QString KVmapDirectory();

// Why the chip's description and its sector table cannot be used together,
// or empty when they agree: every main-flash sector of the table has the
// family's sector size, and the sectors follow one another from the flash
// base to exactly the flash size the chip's identifier gives. A chip whose
// catalogue has no sector table for its size passes (it has no sectors).
std::string CatalogueDisagreement(const CDevice& device);

#endif
