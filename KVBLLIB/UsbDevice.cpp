// The USB layer on libusb-1.0. Devices are counted with the same rule as
// the device listing (an interface of class 0xFE, subclass 0x01, protocol
// 0x02: DFU mode), in the order libusb enumerates them.
#include "UsbDevice.h"

#if defined(KVBL_WITH_LIBUSB)
#include <libusb.h>
#endif

namespace kvdfu {

#if defined(KVBL_WITH_LIBUSB)
namespace {

constexpr uint8_t kDfuClass = 0xFE, kDfuSubclass = 0x01, kDfuModeProtocol = 0x02;
constexpr uint8_t kFunctionalDescriptor = 0x21;
constexpr unsigned kStringTimeoutMs = 1000;

struct DfuInterface {
  int number = -1;
  int alt = 0;
  uint8_t stringIndex = 0;
  uint16_t transferSize = 0;
};

// The DFU-mode interface of a device; false when it has none.
bool findDfuInterface(libusb_device* dev, DfuInterface* out) {
  libusb_config_descriptor* cfg = nullptr;
  if (libusb_get_active_config_descriptor(dev, &cfg) != 0 &&
      libusb_get_config_descriptor(dev, 0, &cfg) != 0)
    return false;
  bool found = false;
  for (int i = 0; i < cfg->bNumInterfaces && !found; ++i)
    for (int a = 0; a < cfg->interface[i].num_altsetting && !found; ++a) {
      const libusb_interface_descriptor& d = cfg->interface[i].altsetting[a];
      if (d.bInterfaceClass != kDfuClass || d.bInterfaceSubClass != kDfuSubclass ||
          d.bInterfaceProtocol != kDfuModeProtocol)
        continue;
      found = true;
      out->number = d.bInterfaceNumber;
      out->alt = d.bAlternateSetting;
      out->stringIndex = d.iInterface;
      // The functional descriptor: [9][0x21][attr][detach 2][transfer 2][version 2].
      const unsigned char* x = d.extra;
      for (int off = 0; x && off + 2 <= d.extra_length && x[off] >= 2;) {
        const int len = x[off];
        if (off + len > d.extra_length) break;
        if (x[off + 1] == kFunctionalDescriptor && len >= 7)
          out->transferSize = static_cast<uint16_t>(x[off + 5] | (x[off + 6] << 8));
        off += len;
      }
    }
  libusb_free_config_descriptor(cfg);
  return found;
}

class CLibusbDevice : public CUsbDevice {
 public:
  CLibusbDevice(libusb_context* ctx, libusb_device_handle* h, const DfuInterface& itf)
      : m_ctx(ctx), m_h(h), m_itf(itf) {
    if (itf.stringIndex != 0) {
      unsigned char text[256] = {0};
      const int n = libusb_get_string_descriptor_ascii(h, itf.stringIndex, text, sizeof(text) - 1);
      if (n > 0 && n < static_cast<int>(sizeof(text))) m_identity.assign(reinterpret_cast<char*>(text), n);
    }
  }
  ~CLibusbDevice() override {
    libusb_release_interface(m_h, m_itf.number);
    libusb_close(m_h);
    libusb_exit(m_ctx);
  }
  int control(bool in, uint8_t request, uint16_t value, uint8_t* data, uint16_t length,
              unsigned timeoutMs) override {
    const uint8_t type = LIBUSB_REQUEST_TYPE_CLASS | LIBUSB_RECIPIENT_INTERFACE |
                         (in ? LIBUSB_ENDPOINT_IN : LIBUSB_ENDPOINT_OUT);
    return libusb_control_transfer(m_h, type, request, value,
                                   static_cast<uint16_t>(m_itf.number), data, length, timeoutMs);
  }
  const std::string& identity() const override { return m_identity; }
  uint16_t transferSize() const override { return m_itf.transferSize; }

 private:
  libusb_context* m_ctx;
  libusb_device_handle* m_h;
  DfuInterface m_itf;
  std::string m_identity;
};

}  // namespace

std::unique_ptr<CUsbDevice> OpenDfuDevice(int index) {
  if (index < 0) return nullptr;
  libusb_context* ctx = nullptr;
  if (libusb_init(&ctx) != 0) return nullptr;
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(ctx, &list);
  libusb_device_handle* handle = nullptr;
  DfuInterface itf;
  int seen = 0;
  for (ssize_t i = 0; i < n && handle == nullptr; ++i) {
    DfuInterface candidate;
    if (!findDfuInterface(list[i], &candidate)) continue;
    if (seen++ != index) continue;
    if (libusb_open(list[i], &handle) != 0) {
      handle = nullptr;
      break;
    }
    itf = candidate;
  }
  if (n >= 0) libusb_free_device_list(list, 1);
  if (handle == nullptr) {
    libusb_exit(ctx);
    return nullptr;
  }
  if (libusb_claim_interface(handle, itf.number) != 0 ||
      (itf.alt != 0 && libusb_set_interface_alt_setting(handle, itf.number, itf.alt) != 0)) {
    libusb_close(handle);
    libusb_exit(ctx);
    return nullptr;
  }
  return std::unique_ptr<CUsbDevice>(new CLibusbDevice(ctx, handle, itf));
}

#else  // built without USB support: no device can be opened

std::unique_ptr<CUsbDevice> OpenDfuDevice(int) { return nullptr; }

#endif

}  // namespace kvdfu
