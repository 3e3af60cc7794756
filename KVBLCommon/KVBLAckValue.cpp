// The protocol-variant value. 0x79 is the only variant any call of this
// system uses; the SPI library does not export it.
#include "KVBLAckValue.h"
#include "KVBLFlavour.h"

extern "C" {
KVBL_API ACKS ACK_VALUE = ST79;
KVBL_API ACKS GetAckValue(void) { return ACK_VALUE; }
}

namespace kvbl {

void SelectAckVariant() {
  if (ACK_VALUE != ST75) ACK_VALUE = ST79;
}

}  // namespace kvbl
