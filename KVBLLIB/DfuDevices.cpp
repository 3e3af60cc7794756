// KVBL_GetKVDeviceList: the USB devices that are in DFU mode (an interface
// of class 0xFE, subclass 0x01, protocol 0x02).
#include <cstdio>
#include <cstring>

#include "KVBLLIB.h"

#if defined(KVBL_WITH_LIBUSB)
#include <libusb.h>
#endif

namespace {

constexpr unsigned kIdTableSize = 255;

#if defined(KVBL_WITH_LIBUSB)
bool inDfuMode(libusb_device* dev) {
  libusb_config_descriptor* cfg = nullptr;
  if (libusb_get_active_config_descriptor(dev, &cfg) != 0 &&
      libusb_get_config_descriptor(dev, 0, &cfg) != 0)
    return false;
  bool dfu = false;
  for (int i = 0; i < cfg->bNumInterfaces && !dfu; ++i)
    for (int a = 0; a < cfg->interface[i].num_altsetting && !dfu; ++a) {
      const libusb_interface_descriptor& d = cfg->interface[i].altsetting[a];
      dfu = d.bInterfaceClass == 0xFE && d.bInterfaceSubClass == 0x01 &&
            d.bInterfaceProtocol == 0x02;
    }
  libusb_free_config_descriptor(cfg);
  return dfu;
}
#endif

}  // namespace

KVBL_API BYTE KVBL_GetKVDeviceList(LPBYTE pCount, LPWORD pVendorIds,
                                              LPWORD pProductIds,
                                              char (*DeviceInfo)[KVBL_DFU_INFO_LENGTH]) {
  if (!pCount || !pVendorIds || !pProductIds || !DeviceInfo)
    return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  const unsigned capacity = *pCount < kIdTableSize ? *pCount : kIdTableSize;
  *pCount = 0;
#if defined(KVBL_WITH_LIBUSB)
  libusb_context* ctx = nullptr;
  if (libusb_init(&ctx) != 0) return CANT_OPEN_COM;
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(ctx, &list);
  unsigned found = 0;
  for (ssize_t i = 0; i < n && found < capacity; ++i) {
    libusb_device_descriptor dd;
    if (libusb_get_device_descriptor(list[i], &dd) != 0 || !inDfuMode(list[i])) continue;
    pVendorIds[found] = dd.idVendor;
    pProductIds[found] = dd.idProduct;
    std::snprintf(DeviceInfo[found], KVBL_DFU_INFO_LENGTH, "DFU device %04x:%04x bus %u address %u",
                  dd.idVendor, dd.idProduct, libusb_get_bus_number(list[i]),
                  libusb_get_device_address(list[i]));
    ++found;
  }
  if (n >= 0) libusb_free_device_list(list, 1);
  libusb_exit(ctx);
  *pCount = static_cast<BYTE>(found);
  return n < 0 ? CANT_OPEN_COM : SUCCESS;
#else
  (void)capacity;
  return CANT_OPEN_COM;  // built without USB support: nothing can be listed
#endif
}
