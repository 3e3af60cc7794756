// The libusb-1.0 functions libKVBLLIB calls, answered by the fake DFU
// device. Linked into the unit tests in place of libusb, and built as a
// preload library so that the unchanged program reaches the fake device.
// When nothing configured the device in code, the preload library takes
// its set-up from the test's environment (DFUFAKE_MAP, DFUFAKE_DEVICE,
// DFUFAKE_STATE, DFUFAKE_ABSENT): this is the test harness's configuration,
// never the program's.
#include <libusb.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "FakeDfuDevice.h"

struct libusb_context {
  int unused;
};
struct libusb_device {
  int unused;
};
struct libusb_device_handle {
  unsigned generation;
};

namespace {

libusb_context g_context;
libusb_device g_device;

void configureFromEnvironment() {
  dfufake::FakeDfuDevice& d = dfufake::Device();
  if (d.configured()) return;
  const char* map = std::getenv("DFUFAKE_MAP");
  const char* device = std::getenv("DFUFAKE_DEVICE");
  const char* state = std::getenv("DFUFAKE_STATE");
  if (map == nullptr) return;  // no device at all
  std::string error;
  if (d.setup(map, device ? device : "KV32S04", state ? state : "", error)) {
    const char* absent = std::getenv("DFUFAKE_ABSENT");
    d.absent = absent != nullptr && std::strcmp(absent, "1") == 0;
  }
}

bool listed() {
  configureFromEnvironment();
  return dfufake::Device().present();
}

}  // namespace

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** ctx) {
  configureFromEnvironment();
  if (ctx) *ctx = &g_context;
  return 0;
}

void LIBUSB_CALL libusb_exit(libusb_context*) {}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context*, libusb_device*** list) {
  const bool here = listed();
  libusb_device** l = static_cast<libusb_device**>(std::calloc(2, sizeof(libusb_device*)));
  if (l == nullptr) return LIBUSB_ERROR_NO_MEM;
  if (here) l[0] = &g_device;
  *list = l;
  return here ? 1 : 0;
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int) { std::free(list); }

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device*, libusb_device_descriptor* d) {
  std::memset(d, 0, sizeof(*d));
  d->bLength = LIBUSB_DT_DEVICE_SIZE;
  d->bDescriptorType = LIBUSB_DT_DEVICE;
  d->bcdUSB = 0x0200;
  d->bMaxPacketSize0 = 64;
  d->idVendor = dfufake::kVendorId;
  d->idProduct = dfufake::kProductId;
  d->bcdDevice = 0x0100;
  d->bNumConfigurations = 1;
  return 0;
}

int LIBUSB_CALL libusb_get_config_descriptor(libusb_device*, uint8_t index,
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
  auto* extra = new unsigned char[9]{9, 0x21, 0x0B, 0xFF, 0x00,
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
uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device*) { return 7; }

int LIBUSB_CALL libusb_open(libusb_device*, libusb_device_handle** handle) {
  if (!listed()) return LIBUSB_ERROR_NO_DEVICE;
  *handle = new libusb_device_handle{dfufake::Device().generation()};
  return 0;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* handle) {
  if (handle == nullptr) return;
  if (handle->generation == dfufake::Device().generation()) dfufake::Device().release();
  delete handle;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* h, int number) {
  if (h->generation != dfufake::Device().generation()) return LIBUSB_ERROR_NO_DEVICE;
  return number == 0 ? 0 : LIBUSB_ERROR_NOT_FOUND;
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
  return dfufake::Device().control(h->generation, (type & LIBUSB_ENDPOINT_IN) != 0, request, value,
                                   data, length);
}

int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle* h, uint8_t index,
                                                   unsigned char* data, int length) {
  if (h->generation != dfufake::Device().generation()) return LIBUSB_ERROR_NO_DEVICE;
  if (index != dfufake::kIdentityString || length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
  const std::string text = dfufake::Device().identity();
  const int n = static_cast<int>(text.size()) < length - 1 ? static_cast<int>(text.size()) : length - 1;
  std::memcpy(data, text.data(), static_cast<size_t>(n));
  data[n] = 0;
  return n;
}

}  // extern "C"
