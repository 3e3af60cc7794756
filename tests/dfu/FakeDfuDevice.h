// A chip in DFU mode for the tests: kv32sim's chip model behind the DFU
// requests and the block-0 commands, with faults to inject. It answers the
// control transfers that the USB layer would carry, and comes and goes from
// the bus as a real device does when it resets.
#ifndef FAKEDFUDEVICE_H
#define FAKEDFUDEVICE_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ChipModel.h"

namespace dfufake {

constexpr uint16_t kVendorId = 0x1209;
constexpr uint16_t kProductId = 0x4B56;
constexpr uint16_t kTransferSize = 2048;
constexpr uint8_t kIdentityString = 4;
constexpr uint8_t kSerialString = 3;

struct Faults {
  bool stallUploads = false;      // data uploads stall (dfuERROR, errSTALLEDPKT)
  int shortUpload = 0;            // data uploads move this many bytes less
  int oversizedUpload = 0;        // ... or report this many bytes more
  bool failWrites = false;        // data downloads end in dfuERROR, errWRITE
  bool busyForever = false;       // a download never leaves dfuDNBUSY
  bool shortStatus = false;       // GETSTATUS answers 3 bytes
  int vanishAfter = -1;           // disappears after this many more transfers
  std::string identity;           // replaces the identity text when not empty
};

class FakeDfuDevice {
 public:
  // A fresh chip (or the one in stateFile) of the catalogue in mapDir.
  bool setup(const std::string& mapDir, const std::string& device, const std::string& stateFile,
             std::string& error);
  bool configured() const { return m_chip != nullptr; }
  kv32sim::ChipModel& chip() { return *m_chip; }

  // Listed on the bus now.
  bool present();
  // Whether a handle opened in this generation still reaches the device.
  unsigned generation() const { return m_generation; }
  // One control transfer; returns the count or a negative libusb error.
  int control(unsigned generation, bool in, uint8_t request, uint16_t value, uint8_t* data,
              uint16_t length);
  std::string identity() const;
  // The host let go of the device: option bytes written in the session make
  // it reset (and re-enumerate).
  void release();

  Faults faults;
  bool absent = false;        // never on the bus
  unsigned reenumerations = 0;
  unsigned transfers = 0;
  // How the device shows itself on the bus.
  uint16_t vendorId = kVendorId;
  uint16_t productId = kProductId;
  std::string serial = "KV0001";
  std::string foreignIdentity;  // not empty: another maker's DFU device
  int openError = 0;            // libusb_open fails with this (e.g. no permission)

 private:
  int status(uint8_t* data, uint16_t length);
  int upload(uint16_t block, uint8_t* data, uint16_t length);
  void execute();
  uint8_t blockZero(const std::vector<uint8_t>& cmd);
  void vanish(bool forEver);
  void save();
  std::vector<uint8_t> commandList() const;
  int stall(uint8_t why);

  std::unique_ptr<kv32sim::ChipModel> m_chip;
  std::string m_stateFile;
  unsigned m_generation = 1;
  std::chrono::steady_clock::time_point m_backAt{};
  bool m_ran = false;  // left DFU mode to run the program
  uint8_t m_state = 2, m_status = 0;
  uint32_t m_pointer = 0x08000000;
  int m_pendingBlock = -1;
  std::vector<uint8_t> m_pending;
  bool m_resetAfterBusy = false;
};

// The devices of the fake bus, in the order it is enumerated; there is
// always at least one.
std::vector<std::unique_ptr<FakeDfuDevice>>& Bus();
// The first device of the bus.
FakeDfuDevice& Device();

}  // namespace dfufake

#endif  // FAKEDFUDEVICE_H
