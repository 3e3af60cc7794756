// The protocol-variant value of the libraries that have one (I2C, CAN and
// libKVBLLIB). 0x79 is the only variant any call of this system uses.
#include "KVBLFlavour.h"

extern "C" {
KVBL_API ACKS ACK_VALUE = ST79;
KVBL_API ACKS GetAckValue() { return ACK_VALUE; }
}

namespace kvbl {

void SelectAckVariant() {
  if (ACK_VALUE != ST75) ACK_VALUE = ST79;
}

}  // namespace kvbl
