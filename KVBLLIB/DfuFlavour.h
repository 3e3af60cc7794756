// The USB DFU transport of libKVBLLIB: every request of the command layer
// mapped onto DFU transfers (docs/dfu.md). A port's number is the device's
// index in the DFU device listing.
#ifndef DFUFLAVOUR_H
#define DFUFLAVOUR_H

#include "KVBLFlavour.h"

namespace kvdfu {

// The whole Send_RQ of a DFU port. A command without a DFU counterpart, or
// one the device does not list, answers CMD_NOT_ALLOWED.
BYTE SendRQ(HANDLE h, LPKVBL_Request rq);

extern const kvbl::Flavour kFlavour;

}  // namespace kvdfu

#endif  // DFUFLAVOUR_H
