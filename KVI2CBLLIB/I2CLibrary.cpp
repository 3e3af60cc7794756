// libKVI2CBLLIB: every port speaks through the I2C bridge.
#include "I2CBridge.h"
#include "KVBLBridgeExports.h"
#include "KVI2CBL.h"

KVBL_SINGLE_FLAVOUR_LIBRARY(kvi2c::kFlavour)

KVBL_BRIDGE_FRAMING_EXPORTS(I2C, kvi2c)
