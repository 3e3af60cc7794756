// The libusb-1.0 functions libKVBLLIB calls, answered by the fake DFU
// devices of the fake bus. Linked into the unit tests in place of libusb,
// and built as a preload library so that the unchanged program reaches the
// fake devices. When nothing configured the bus in code, the preload library
// takes its set-up from the test's environment: this is the test harness's
// configuration, never the program's.
//   DFUFAKE_MAP     the catalogue (no bus without it)
//   DFUFAKE_DEVICE  the chip of every KV32 device (default KV32S04)
//   DFUFAKE_STATE   state file of the first KV32 device; the others add
//                   "-SERIAL" to it
//   DFUFAKE_ABSENT  1: no device is on the bus
//   DFUFAKE_BUS     the devices in the order of their ports, comma-separated:
//                   kv32:SERIAL    a KV32 chip with that serial number
//                   denied:SERIAL  one the user may not open
//                   busy:SERIAL    one another program has claimed
//                   driver:SERIAL  one whose interface a kernel driver holds
//                   gone:SERIAL    one that does not come back after a reset
//                   foreign        another maker's device in DFU mode
//                   (default: kv32:KV0001)
//   DFUFAKE_FAULT   write: data downloads of every KV32 device end in
//                   dfuERROR with errWRITE
#include <libusb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "FakeDfuDevice.h"

constexpr size_t kMaxDevices = 8;

struct libusb_context {
  int unused;
};
struct libusb_device {
  size_t index;
};
struct libusb_device_handle {
  size_t index;
  unsigned generation;
};

namespace {

libusb_context g_context;
libusb_device g_devices[kMaxDevices] = {{0}, {1}, {2}, {3}, {4}, {5}, {6}, {7}};

dfufake::FakeDfuDevice& At(size_t index) { return *dfufake::Bus()[index]; }

bool Configure(dfufake::FakeDfuDevice& d, const std::string& map, const std::string& chip,
               const std::string& state) {
  std::string error;
  return d.setup(map, chip, state, error);
}

void configureFromEnvironment() {
  if (dfufake::Device().configured()) return;
  const char* map = std::getenv("DFUFAKE_MAP");
  const char* device = std::getenv("DFUFAKE_DEVICE");
  const char* state = std::getenv("DFUFAKE_STATE");
  const char* layout = std::getenv("DFUFAKE_BUS");
  const char* absent = std::getenv("DFUFAKE_ABSENT");
  const char* fault = std::getenv("DFUFAKE_FAULT");
  if (map == nullptr) return;  // no device at all
  const std::string chip = device ? device : "KV32S04";
  const std::string firstState = state ? state : "";
  std::vector<std::unique_ptr<dfufake::FakeDfuDevice>>& bus = dfufake::Bus();
  std::istringstream entries(layout ? layout : "kv32:KV0001");
  std::string entry;
  bool firstChip = true;
  for (size_t k = 0; std::getline(entries, entry, ',') && k < kMaxDevices; ++k) {
    if (k >= bus.size()) bus.emplace_back(new dfufake::FakeDfuDevice);
    dfufake::FakeDfuDevice& d = *bus[k];
    const size_t colon = entry.find(':');
    const std::string kind = entry.substr(0, colon);
    const std::string serial = colon == std::string::npos ? "" : entry.substr(colon + 1);
    std::string chipState = firstState;
    if (!firstChip && !chipState.empty()) chipState += "-" + serial;
    if (!Configure(d, map, chip, kind == "foreign" ? "" : chipState)) return;
    d.serial = serial;
    if (kind == "foreign") {
      d.vendorId = 0x1209;
      d.productId = 0x0001;
      d.foreignIdentity = "Bootloader of another maker";
    } else {
      firstChip = false;
      if (kind == "denied") d.openError = LIBUSB_ERROR_ACCESS;
      d.claimedElsewhere = kind == "busy";
      d.kernelDriver = kind == "driver";
      d.comesBack = kind != "gone";
      d.faults.failWrites = fault != nullptr && std::strcmp(fault, "write") == 0;
    }
    d.absent = absent != nullptr && std::strcmp(absent, "1") == 0;
  }
}

bool listed(size_t index) {
  configureFromEnvironment();
  return index < dfufake::Bus().size() && At(index).present();
}

}  // namespace

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** ctx) {
  configureFromEnvironment();
  if (ctx) *ctx = &g_context;
  return 0;
}

void LIBUSB_CALL libusb_exit(libusb_context*) {}

// In the order the devices were enumerated: one that came back after a
// reset is listed after those that stayed.
ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context*, libusb_device*** list) {
  configureFromEnvironment();
  libusb_device** l = static_cast<libusb_device**>(std::calloc(kMaxDevices + 1, sizeof(libusb_device*)));
  if (l == nullptr) return LIBUSB_ERROR_NO_MEM;
  ssize_t n = 0;
  for (size_t k = 0; k < dfufake::Bus().size() && k < kMaxDevices; ++k)
    if (listed(k)) l[n++] = &g_devices[k];
  std::stable_sort(l, l + n, [](libusb_device* a, libusb_device* b) {
    return At(a->index).enumerationOrder() < At(b->index).enumerationOrder();
  });
  *list = l;
  return n;
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int) { std::free(list); }

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* d) {
  std::memset(d, 0, sizeof(*d));
  d->bLength = LIBUSB_DT_DEVICE_SIZE;
  d->bDescriptorType = LIBUSB_DT_DEVICE;
  d->bcdUSB = 0x0200;
  d->bMaxPacketSize0 = 64;
  d->idVendor = At(dev->index).vendorId;
  d->idProduct = At(dev->index).productId;
  d->bcdDevice = 0x0100;
  d->iSerialNumber = At(dev->index).serial.empty() ? 0 : dfufake::kSerialString;
  d->bNumConfigurations = 1;
  return 0;
}

int LIBUSB_CALL libusb_get_config_descriptor(libusb_device* dev, uint8_t index,
                                             libusb_config_descriptor** config) {
  if (index != 0) return LIBUSB_ERROR_NOT_FOUND;
  auto* alt = new libusb_interface_descriptor();
  alt->bLength = LIBUSB_DT_INTERFACE_SIZE;
  alt->bDescriptorType = LIBUSB_DT_INTERFACE;
  alt->bInterfaceClass = 0xFE;
  alt->bInterfaceSubClass = 0x01;
  alt->bInterfaceProtocol = 0x02;
  alt->iInterface = dfufake::kIdentityString;
  // DFU functional descriptor: download and upload capable, 2 KB transfers.
  auto* extra = new unsigned char[9]{9, 0x21, At(dev->index).attributes, 0xFF, 0x00,
                                     static_cast<unsigned char>(dfufake::kTransferSize & 0xFF),
                                     static_cast<unsigned char>(dfufake::kTransferSize >> 8), 0x1A,
                                     0x01};
  alt->extra = extra;
  alt->extra_length = 9;
  auto* itf = new libusb_interface();
  itf->altsetting = alt;
  itf->num_altsetting = 1;
  auto* cfg = new libusb_config_descriptor();
  cfg->bLength = LIBUSB_DT_CONFIG_SIZE;
  cfg->bDescriptorType = LIBUSB_DT_CONFIG;
  cfg->bNumInterfaces = 1;
  cfg->interface = itf;
  *config = cfg;
  return 0;
}

int LIBUSB_CALL libusb_get_active_config_descriptor(libusb_device* dev,
                                                    libusb_config_descriptor** config) {
  return libusb_get_config_descriptor(dev, 0, config);
}

void LIBUSB_CALL libusb_free_config_descriptor(libusb_config_descriptor* config) {
  if (config == nullptr) return;
  const libusb_interface* itf = config->interface;
  delete[] itf->altsetting->extra;
  delete itf->altsetting;
  delete itf;
  delete config;
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device*) { return 1; }
uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device* dev) { return uint8_t(7 + dev->index); }

// Each device hangs on its own port of the root hub: "1-1", "1-2", ...
int LIBUSB_CALL libusb_get_port_numbers(libusb_device* dev, uint8_t* ports, int length) {
  if (length < 1) return LIBUSB_ERROR_OVERFLOW;
  ports[0] = uint8_t(1 + dev->index);
  return 1;
}

int LIBUSB_CALL libusb_open(libusb_device* dev, libusb_device_handle** handle) {
  if (!listed(dev->index)) return LIBUSB_ERROR_NO_DEVICE;
  if (At(dev->index).openError != 0) return At(dev->index).openError;
  *handle = new libusb_device_handle{dev->index, At(dev->index).generation()};
  return 0;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* handle) {
  if (handle == nullptr) return;
  if (handle->generation == At(handle->index).generation()) At(handle->index).release();
  delete handle;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* h, int number) {
  if (h->generation != At(h->index).generation()) return LIBUSB_ERROR_NO_DEVICE;
  if (number != 0) return LIBUSB_ERROR_NOT_FOUND;
  return At(h->index).claimedElsewhere || At(h->index).kernelDriver ? LIBUSB_ERROR_BUSY : 0;
}

int LIBUSB_CALL libusb_kernel_driver_active(libusb_device_handle* h, int) {
  if (h->generation != At(h->index).generation()) return LIBUSB_ERROR_NO_DEVICE;
  return At(h->index).kernelDriver ? 1 : 0;
}

// The device restarts and comes back as a new device; the handle reaches
// nothing any more (libusb then answers NOT_FOUND).
int LIBUSB_CALL libusb_reset_device(libusb_device_handle* h) {
  if (h->generation != At(h->index).generation()) return LIBUSB_ERROR_NO_DEVICE;
  At(h->index).usbReset();
  return LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle*, int) { return 0; }

int LIBUSB_CALL libusb_set_interface_alt_setting(libusb_device_handle*, int, int alt) {
  return alt == 0 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle* h, uint8_t type, uint8_t request,
                                        uint16_t value, uint16_t index, unsigned char* data,
                                        uint16_t length, unsigned int) {
  const uint8_t classToInterface = LIBUSB_REQUEST_TYPE_CLASS | LIBUSB_RECIPIENT_INTERFACE;
  if ((type & 0x7F) != classToInterface || index != 0) return LIBUSB_ERROR_PIPE;
  return At(h->index).control(h->generation, (type & LIBUSB_ENDPOINT_IN) != 0, request, value, data,
                              length);
}

int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle* h, uint8_t index,
                                                   unsigned char* data, int length) {
  dfufake::FakeDfuDevice& d = At(h->index);
  if (h->generation != d.generation()) return LIBUSB_ERROR_NO_DEVICE;
  if ((index != dfufake::kIdentityString && index != dfufake::kSerialString) || length <= 0)
    return LIBUSB_ERROR_INVALID_PARAM;
  const std::string text = index == dfufake::kSerialString ? d.serial : d.identity();
  const int n = static_cast<int>(text.size()) < length - 1 ? static_cast<int>(text.size()) : length - 1;
  std::memcpy(data, text.data(), static_cast<size_t>(n));
  data[n] = 0;
  return n;
}

}  // extern "C"
