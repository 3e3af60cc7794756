// libKVBLLIB carries every transport: TARGET_SetComIntType selects the one
// that the next SetCOMSettings (or an Interface_Open of a port without
// settings) binds to its port; later calls on that port go to it.
#include "DfuFlavour.h"
#include "I2CBridge.h"
#include "KVBLFlavour.h"
#include "UsartFlavour.h"
#if defined(KVBL_WITH_SPI)
#include "SPIBridge.h"
#endif
#if defined(KVBL_WITH_CAN)
#include "CANBridge.h"
#endif

namespace kvbl {
namespace {

// Indexed by interface type. A type without a transport here is refused by
// SetCOMSettings and Interface_Open (never a success).
const Flavour* const kRouting[] = {
    &kvusart::kFlavour,  // 0 USART
    &kvdfu::kFlavour,    // 1 USB DFU
    &kvi2c::kFlavour,    // 2 I2C bridge
#if defined(KVBL_WITH_CAN)
    &kvcan::kFlavour,    // 3 CAN bridge
#else
    nullptr,
#endif
#if defined(KVBL_WITH_SPI)
    &kvspi::kFlavour,    // 4 SPI bridge
#else
    nullptr,
#endif
};
constexpr BYTE kTypes = sizeof(kRouting) / sizeof(kRouting[0]);

BYTE g_type = KVBL_INTERFACE_USART;

}  // namespace

BYTE SelectInterfaceType(BYTE type) {
  if (type >= kTypes) return INPUT_PARAMS_ERROR;
  g_type = type;
  return SUCCESS;
}

const Flavour* SelectedFlavour() { return kRouting[g_type]; }

}  // namespace kvbl
