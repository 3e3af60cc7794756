// A chip in DFU mode for the tests: kv32sim's chip model behind the DFU
// requests and the block-0 commands, with faults to inject. It answers the
// control transfers that the USB layer would carry, keeps the DFU 1.1 state
// table (a request a state does not allow stalls and puts the device in
// dfuERROR, as does a request while it is busy, before the time it
// announced), and comes and goes from the bus as a real device does when it
// resets. Like a real device it cannot see the host close its handle: it
// resets only when asked to (its reset command, a USB reset, DFU_DETACH)
// or after a protection command.
#ifndef FAKEDFUDEVICE_H
#define FAKEDFUDEVICE_H

#include <chrono>
#include <cstdint>
#include <deque>
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
constexpr uint8_t kAttrTolerant = 0x04;
// Download and upload capable, detaches itself; not manifestation tolerant.
constexpr uint8_t kDefaultAttributes = 0x0B;

struct Faults {
  bool stallUploads = false;      // data uploads stall (dfuERROR, errSTALLEDPKT)
  int shortUpload = 0;            // data uploads move this many bytes less
  int oversizedUpload = 0;        // ... or report this many bytes more
  bool failWrites = false;        // data downloads end in dfuERROR, errWRITE
  bool busyForever = false;       // a download never leaves dfuDNBUSY (announcing 0 ms)
  bool shortStatus = false;       // GETSTATUS answers 3 bytes
  int vanishAfter = -1;           // disappears after this many more transfers
  std::string identity;           // replaces the identity text when not empty
};

// The busy time the device announces for each kind of work (bwPollTimeout).
struct PollTimes {
  uint32_t write = 1;
  uint32_t pageErase = 2;
  uint32_t massErase = 20;
  uint32_t command = 5;    // protection and reset commands
  uint32_t manifest = 5;
};

// Control transfers by request, counted as the device receives them.
struct Counts {
  unsigned detach = 0, dnload = 0, upload = 0, getstatus = 0, clrstatus = 0, getstate = 0, abort = 0;
  unsigned total() const { return detach + dnload + upload + getstatus + clrstatus + getstate + abort; }
};

class FakeDfuDevice {
 public:
  FakeDfuDevice();
  // A fresh chip (or the one in stateFile) of the catalogue in mapDir.
  bool setup(const std::string& mapDir, const std::string& device, const std::string& stateFile,
             std::string& error);
  bool configured() const { return m_chip != nullptr; }
  kv32sim::ChipModel& chip() { return *m_chip; }

  // Listed on the bus now.
  bool present();
  // Whether a handle opened in this generation still reaches the device.
  unsigned generation() const { return m_generation; }
  // Where the device is in the order the bus is enumerated: a device that
  // re-enumerates comes after the others.
  unsigned enumerationOrder() const { return m_stamp; }
  // One control transfer; returns the count or a negative libusb error.
  int control(unsigned generation, bool in, uint8_t request, uint16_t value, uint8_t* data,
              uint16_t length);
  std::string identity() const;
  // The host let go of its handle: nothing the device could see. The chip's
  // memory is kept in the state file for the next process.
  void release();
  // A USB port reset: the chip restarts (its option bytes load); after a
  // manifestation it runs the program.
  void usbReset();

  Faults faults;
  PollTimes polls;
  // Busy phases of the next command that makes the device busy, in order
  // (one DNBUSY each); empty: one phase of its kind's time.
  std::deque<uint32_t> pollScript;
  uint8_t attributes = kDefaultAttributes;
  bool listsResetCommand = true;  // lists 0xD4 (else only a USB reset restarts it)
  bool absent = false;            // never on the bus
  bool comesBack = true;          // false: gone for good after its next reset
  unsigned reenumerations = 0;
  unsigned transfers = 0;
  unsigned earlyRequests = 0;     // requests while busy, before the announced time
  Counts counts;
  // How the device shows itself on the bus.
  uint16_t vendorId = kVendorId;
  uint16_t productId = kProductId;
  std::string serial = "KV0001";
  std::string foreignIdentity;  // not empty: another maker's DFU device
  int openError = 0;            // libusb_open fails with this (e.g. no permission)
  bool claimedElsewhere = false;  // another program has claimed the interface
  bool kernelDriver = false;      // a kernel driver holds the interface

 private:
  int status(uint8_t* data, uint16_t length);
  int answer(uint8_t* data, uint16_t length, uint32_t pollMs);
  int upload(uint16_t block, uint8_t* data, uint16_t length);
  uint8_t execute(uint32_t* pollMs);
  uint8_t blockZero(const std::vector<uint8_t>& cmd, uint32_t* pollMs);
  void busy(uint32_t pollMs);
  void vanish(bool forEver);
  void save();
  std::vector<uint8_t> commandList() const;
  int stall(uint8_t why);
  void count(uint8_t request);

  std::unique_ptr<kv32sim::ChipModel> m_chip;
  std::string m_stateFile;
  unsigned m_generation = 1;
  unsigned m_stamp = 0;
  std::chrono::steady_clock::time_point m_backAt{};
  std::chrono::steady_clock::time_point m_busyUntil{};
  bool m_ran = false;         // left DFU mode to run the program
  bool m_manifested = false;  // manifested; a reset now runs the program
  uint8_t m_state = 2, m_status = 0;
  uint32_t m_pointer = 0x08000000;
  int m_pendingBlock = -1;
  std::vector<uint8_t> m_pending;
  std::deque<uint32_t> m_phases;  // busy phases still to come
  bool m_resetAfterBusy = false;
};

// The devices of the fake bus, in the order of their ports; there is
// always at least one.
std::vector<std::unique_ptr<FakeDfuDevice>>& Bus();
// The first device of the bus.
FakeDfuDevice& Device();

}  // namespace dfufake

#endif  // FAKEDFUDEVICE_H
