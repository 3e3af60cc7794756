// The USB layer under the DFU transport: one opened device in DFU mode,
// reached through control transfers on its DFU interface. The transport
// knows nothing else about USB; the implementation on libusb-1.0 is in
// UsbDevice.cpp.
#ifndef USBDEVICE_H
#define USBDEVICE_H

#include <cstdint>
#include <memory>
#include <string>

namespace kvdfu {

// Results of a transfer below 0 (the values libusb-1.0 uses).
constexpr int kUsbErrorIo = -1;
constexpr int kUsbErrorNoDevice = -4;
constexpr int kUsbErrorTimeout = -7;
constexpr int kUsbErrorPipe = -9;  // the device stalled the request

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
};

// Opens the index-th device in DFU mode, counted in the order in which
// KVBL_GetKVDeviceList lists them. Null when there is no such device or it
// cannot be claimed.
std::unique_ptr<CUsbDevice> OpenDfuDevice(int index);

}  // namespace kvdfu

#endif  // USBDEVICE_H
