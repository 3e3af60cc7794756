// DFU 1.1 on one opened device: the class requests, the state machine, and
// the vendor commands of block 0 (get commands, set address pointer, erase
// page / mass erase, read unprotect, and the protection commands a device
// lists). Data blocks n >= 2 address pointer + (n - 2) x transfer size.
//
// Every wait is bounded: a device that stays busy, stalls, answers short or
// oversized transfers, reports dfuERROR or disappears gives a result code of
// the KVBL_ interface, never a hang past the time-out.
#ifndef DFUTARGET_H
#define DFUTARGET_H

#include <cstdint>

#include "KVBL.h"
#include "UsbDevice.h"

namespace kvdfu {

enum DfuRequest : uint8_t {
  DFU_DETACH = 0, DFU_DNLOAD = 1, DFU_UPLOAD = 2, DFU_GETSTATUS = 3,
  DFU_CLRSTATUS = 4, DFU_GETSTATE = 5, DFU_ABORT = 6
};

enum DfuState : uint8_t {
  STATE_APP_IDLE = 0, STATE_APP_DETACH = 1, STATE_IDLE = 2, STATE_DNLOAD_SYNC = 3,
  STATE_DNBUSY = 4, STATE_DNLOAD_IDLE = 5, STATE_MANIFEST_SYNC = 6, STATE_MANIFEST = 7,
  STATE_MANIFEST_WAIT_RESET = 8, STATE_UPLOAD_IDLE = 9, STATE_ERROR = 10
};

enum DfuStatusCode : uint8_t {
  STATUS_OK = 0x00, ERR_TARGET = 0x01, ERR_FILE = 0x02, ERR_WRITE = 0x03, ERR_ERASE = 0x04,
  ERR_CHECK_ERASED = 0x05, ERR_PROG = 0x06, ERR_VERIFY = 0x07, ERR_ADDRESS = 0x08,
  ERR_NOTDONE = 0x09, ERR_FIRMWARE = 0x0A, ERR_VENDOR = 0x0B, ERR_USBR = 0x0C, ERR_POR = 0x0D,
  ERR_UNKNOWN = 0x0E, ERR_STALLEDPKT = 0x0F
};

// Vendor commands: the first byte of a block-0 download.
constexpr uint8_t kCmdGetCommands = 0x00;
constexpr uint8_t kCmdSetAddress = 0x21;     // [0x21][address, LSB first]
constexpr uint8_t kCmdErase = 0x41;          // [0x41][page address] or [0x41]: mass
constexpr uint8_t kCmdReadUnprotect = 0x92;  // mass erase, access protection off, reset

constexpr uint16_t kDefaultTransferSize = 2048;
constexpr unsigned kMaxPollMs = 60000;  // longest busy time a device may announce

struct DfuStatus {
  uint8_t status = 0;
  uint32_t pollMs = 0;
  uint8_t state = 0;
};

// The interface result code of a DFU status: refusals of an address or of
// a protected chip are CMD_NOT_ALLOWED (the NACK of the other links), every
// other error CMD_FAIL.
BYTE StatusResult(uint8_t status);

class CDfuTarget {
 public:
  // timeoutMs: longest wait for one transfer and for one busy phase.
  CDfuTarget(CUsbDevice* device, unsigned timeoutMs);

  BYTE getStatus(DfuStatus* s);
  // dfuIDLE from any DFU state (CLRSTATUS after an error, ABORT otherwise).
  BYTE toIdle();
  // The codes the device lists for block 0 (UPLOAD of block 0).
  BYTE commandList(uint8_t* out, uint16_t cap, uint16_t* got);
  // A block-0 command, waited for until the device is idle again.
  BYTE command(const uint8_t* bytes, uint16_t n);
  // A block-0 command after which the device resets (protection changes):
  // accepted once the device reports it busy; its disappearance then is the
  // reset, not a failure.
  BYTE commandThatResets(const uint8_t* bytes, uint16_t n);
  BYTE setAddress(uint32_t address);
  BYTE upload(uint32_t address, uint8_t* data, uint32_t n);
  BYTE download(uint32_t address, const uint8_t* data, uint32_t n);
  // Leaves DFU mode, starting the program at address.
  BYTE leave(uint32_t address);

 private:
  BYTE transfer(bool in, uint8_t request, uint16_t value, uint8_t* data, uint16_t n);
  BYTE waitDone(bool mayVanish);
  uint16_t chunk() const;

  CUsbDevice* m_dev;
  unsigned m_timeoutMs;
};

}  // namespace kvdfu

#endif  // DFUTARGET_H
