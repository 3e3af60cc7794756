// The USB layer on libusb-1.0. The listing and the open walk the bus with
// one rule: a device with a DFU-mode interface (class 0xFE, subclass 0x01,
// protocol 0x02) whose interface string names a KV32 chip, in the order
// libusb enumerates them.
#include "UsbDevice.h"

#if defined(KVBL_WITH_LIBUSB)
#include <libusb.h>

#include <cstdio>
#include <functional>
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
  uint8_t attributes = 0;
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
        if (x[off + 1] == kFunctionalDescriptor && len >= 7) {
          out->attributes = x[off + 2];
          out->transferSize = static_cast<uint16_t>(x[off + 5] | (x[off + 6] << 8));
        }
        off += len;
      }
    }
  libusb_free_config_descriptor(cfg);
  return found;
}

class CLibusbDevice : public CUsbDevice {
 public:
  CLibusbDevice(libusb_context* ctx, libusb_device_handle* h, const DfuInterface& itf, const std::string& identity,
                const DfuListing& listing)
      : m_ctx(ctx), m_h(h), m_itf(itf), m_identity(identity), m_listing(listing) {}
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
  uint8_t attributes() const override { return m_itf.attributes; }
  int reset() override {
    const int r = libusb_reset_device(m_h);
    // NOT_FOUND: the device came back as a new one (the reset took place).
    return r == LIBUSB_ERROR_NOT_FOUND || r == LIBUSB_ERROR_NO_DEVICE ? 0 : r;
  }
  const DfuListing& listing() const override { return m_listing; }

 private:
  libusb_context* m_ctx;
  libusb_device_handle* m_h;
  DfuInterface m_itf;
  std::string m_identity;
  DfuListing m_listing;
};

// A string descriptor as text; empty when the device has none.
std::string stringOf(libusb_device_handle* h, uint8_t index) {
  if (index == 0) return std::string();
  unsigned char text[256] = {0};
  const int n = libusb_get_string_descriptor_ascii(h, index, text, sizeof(text) - 1);
  return n > 0 && n < static_cast<int>(sizeof(text)) ? std::string(reinterpret_cast<char*>(text), n)
                                                     : std::string();
}

// "1-4.2": the bus number, then the port numbers from the root.
std::string pathOf(libusb_device* dev) {
  uint8_t ports[8];
  const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
  std::string path = std::to_string(libusb_get_bus_number(dev));
  for (int k = 0; k < n; ++k) path += (k == 0 ? "-" : ".") + std::to_string(ports[k]);
  return path;
}

// Why an open or a claim failed, in words.
std::string reasonOf(int error) {
  switch (error) {
    case LIBUSB_ERROR_ACCESS:
      return "no permission to open it (the udev rule installed with tarnflash gives it to the logged-in user)";
    case LIBUSB_ERROR_BUSY: return "busy: another program has claimed its DFU interface";
    case LIBUSB_ERROR_NO_DEVICE: return "gone from the bus";
    case LIBUSB_ERROR_NOT_FOUND: return "its DFU interface is gone";
    default: return "USB error " + std::to_string(error);
  }
}

// Opens every KV32 chip in DFU mode in bus order (with onlyPath, only the
// device at that place: the others are not touched) and hands it to take(),
// which keeps the handle by returning true (the walk then stops). Devices
// that cannot be opened are told in problems. False when the bus cannot be
// enumerated.
using Take = std::function<bool(const DfuInterface&, const DfuListing&, const std::string& identity,
                                libusb_device_handle*)>;
bool walkBus(libusb_context* ctx, std::vector<std::string>& problems, const Take& take,
             const std::string& onlyPath = std::string()) {
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(ctx, &list);
  if (n < 0) return false;
  for (ssize_t i = 0; i < n; ++i) {
    DfuInterface itf;
    libusb_device_descriptor dd;
    if (!findDfuInterface(list[i], &itf) || libusb_get_device_descriptor(list[i], &dd) != 0) continue;
    DfuListing listing;
    listing.vendor = dd.idVendor;
    listing.product = dd.idProduct;
    listing.path = pathOf(list[i]);
    if (!onlyPath.empty() && listing.path != onlyPath) continue;
    libusb_device_handle* h = nullptr;
    const int opened = libusb_open(list[i], &h);
    if (opened != 0) {
      char id[16];
      std::snprintf(id, sizeof id, "%04x:%04x", dd.idVendor, dd.idProduct);
      problems.push_back(std::string("DFU device ") + id + " at usb " + listing.path + ": " + reasonOf(opened));
      continue;
    }
    const std::string identity = stringOf(h, itf.stringIndex);
    if (IsKv32Identity(identity)) {
      listing.serial = stringOf(h, dd.iSerialNumber);
      if (take(itf, listing, identity, h)) {
        libusb_free_device_list(list, 1);
        return true;
      }
    }
    libusb_close(h);
  }
  libusb_free_device_list(list, 1);
  return true;
}

}  // namespace

bool ListDfuDevices(std::vector<DfuListing>& devices, std::vector<std::string>& problems) {
  devices.clear();
  libusb_context* ctx = nullptr;
  if (libusb_init(&ctx) != 0) return false;
  const bool walked = walkBus(ctx, problems, [&](const DfuInterface&, const DfuListing& listing,
                                                 const std::string&, libusb_device_handle*) {
    devices.push_back(listing);
    return false;
  });
  libusb_exit(ctx);
  return walked;
}

std::unique_ptr<CUsbDevice> OpenDfuDevice(const DfuChoice& choice, std::string& why) {
  why.clear();
  if (!choice.byPlace() && choice.index < 0) return nullptr;
  libusb_context* ctx = nullptr;
  if (libusb_init(&ctx) != 0) {
    why = "USB cannot be used";
    return nullptr;
  }
  const std::string wanted = choice.byPlace() ? "KV32 DFU device usb:" + choice.path + " serial=" + choice.serial
                                              : std::string();
  std::vector<std::string> problems;
  int seen = 0;
  std::unique_ptr<CUsbDevice> device;
  walkBus(ctx, problems, [&](const DfuInterface& itf, const DfuListing& listing, const std::string& identity,
                             libusb_device_handle* h) {
    if (choice.byPlace() ? listing.path != choice.path || listing.serial != choice.serial : seen++ != choice.index)
      return false;
    int claimed = libusb_claim_interface(h, itf.number);
    if (claimed == 0 && itf.alt != 0) claimed = libusb_set_interface_alt_setting(h, itf.number, itf.alt);
    if (claimed != 0) {
      std::string reason = reasonOf(claimed);
      if (claimed == LIBUSB_ERROR_BUSY && libusb_kernel_driver_active(h, itf.number) == 1)
        reason = "a kernel driver holds its DFU interface (no other program can use it while it does)";
      why = "KV32 DFU device at usb " + listing.path + ": " + reason;
      libusb_close(h);
      return true;
    }
    device.reset(new CLibusbDevice(ctx, h, itf, identity, listing));
    return true;
  }, choice.path);
  if (device) return device;
  if (why.empty()) {
    // The chosen chip itself may be among the devices that could not be
    // opened to be identified.
    if (choice.byPlace() && !problems.empty()) why = problems.front();
    if (why.empty())
      why = choice.byPlace() ? wanted + ": not on the bus"
                             : problems.empty() ? "no KV32 DFU device at this place of the list" : problems.front();
  }
  libusb_exit(ctx);
  return nullptr;
}

#else  // built without USB support: nothing is listed, no device opened

bool ListDfuDevices(std::vector<DfuListing>& devices, std::vector<std::string>&) {
  devices.clear();
  return false;
}

std::unique_ptr<CUsbDevice> OpenDfuDevice(const DfuChoice&, std::string& why) {
  why = "built without USB support";
  return nullptr;
}

#endif

}  // namespace kvdfu
