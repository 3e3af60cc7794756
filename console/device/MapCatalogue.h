// Where the device-map catalogue lives.
#ifndef TARNFLASH_DEVICE_MAPCATALOGUE_H
#define TARNFLASH_DEVICE_MAPCATALOGUE_H

#include <QString>

// "./Map/" when the working directory has a Map folder; otherwise the
// installed catalogue ../share/tarnflash/Map/ beside the running program.
// Always ends with a slash.
QString KVmapDirectory();

#endif
