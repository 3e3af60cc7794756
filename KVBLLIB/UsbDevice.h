// The USB layer under the DFU transport: the KV32 chips in DFU mode on the
// bus, and one opened device reached through control transfers on its DFU
// interface. The transport knows nothing else about USB; the implementation
// on libusb-1.0 is in UsbDevice.cpp.
#ifndef USBDEVICE_H
#define USBDEVICE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kvdfu {

// Results of a transfer below 0 (the values libusb-1.0 uses).
constexpr int kUsbErrorIo = -1;
constexpr int kUsbErrorNoDevice = -4;
constexpr int kUsbErrorTimeout = -7;
constexpr int kUsbErrorPipe = -9;  // the device stalled the request

// bmAttributes of the DFU functional descriptor.
constexpr uint8_t kAttrManifestationTolerant = 0x04;  // back in dfuIDLE after manifesting
constexpr uint8_t kAttrWillDetach = 0x08;             // detaches itself on DFU_DETACH

// One KV32 chip in DFU mode: a device with a DFU-mode interface (class 0xFE,
// subclass 0x01, protocol 0x02) whose interface string names a KV32 chip.
struct DfuListing {
  uint16_t vendor = 0;
  uint16_t product = 0;
  std::string path;    // "1-4.2": bus and port numbers, as the system names them
  std::string serial;  // the USB serial number; empty when it has none
};

class CUsbDevice {
 public:
  virtual ~CUsbDevice() = default;
  // One control transfer on the DFU interface (class request, recipient
  // interface). `in` reads up to `length` bytes into data, else writes
  // `length` bytes from it. Returns the count the device moved, or a
  // negative error above. A count above `length` is possible from a faulty
  // layer; callers refuse it.
  virtual int control(bool in, uint8_t request, uint16_t value, uint8_t* data, uint16_t length,
                      unsigned timeoutMs) = 0;
  // The DFU interface's string descriptor (its identity text); empty if none.
  virtual const std::string& identity() const = 0;
  // wTransferSize of the DFU functional descriptor (0 when absent).
  virtual uint16_t transferSize() const = 0;
  // bmAttributes of the DFU functional descriptor (0 when absent).
  virtual uint8_t attributes() const = 0;
  // A USB port reset: the device restarts and comes back on the bus as a
  // new device (this handle then reaches nothing). 0, or a negative error;
  // a device that is gone already counts as reset.
  virtual int reset() = 0;
  // Where the device is on the bus, and its serial number.
  virtual const DfuListing& listing() const = 0;
};

// Whether a DFU interface's identity text names a KV32 chip (it carries
// the product identifier and series in our format). In DfuLine.cpp.
bool IsKv32Identity(const std::string& text);

// The KV32 chips in DFU mode, in the order the bus is enumerated. A device
// in DFU mode that cannot be opened to read its interface string is left
// out, with one line in problems saying which device and why. False when
// the bus cannot be enumerated at all.
bool ListDfuDevices(std::vector<DfuListing>& devices, std::vector<std::string>& problems);

// Which chip to open: the index-th of that list, or, with a path, only the
// chip at that place on the bus with that serial number (wherever it now is
// in the list: a chip that restarted may be enumerated after the others).
struct DfuChoice {
  int index = -1;
  std::string path;
  std::string serial;
  bool byPlace() const { return !path.empty(); }
};

// Opens and claims the chosen device. Null when there is no such device or
// it cannot be opened or claimed; why says which of them (no permission,
// claimed by another program, held by a kernel driver, gone).
std::unique_ptr<CUsbDevice> OpenDfuDevice(const DfuChoice& choice, std::string& why);

}  // namespace kvdfu

#endif  // USBDEVICE_H
