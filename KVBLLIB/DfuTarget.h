// DFU 1.1 on one opened device: the class requests, the state machine, and
// the vendor commands of block 0 (get commands, set address pointer, erase
// page / mass erase, read unprotect, and the protection commands a device
// lists). Data blocks n >= 2 address pointer + (n - 2) x transfer size.
//
// Requests follow the class's state table: ABORT only in dfuIDLE,
// dfuDNLOAD-IDLE and dfuUPLOAD-IDLE, CLRSTATUS only in dfuERROR, nothing
// while the device is busy. Every busy time the device announces
// (bwPollTimeout) is waited in full before the next GETSTATUS. The host
// remembers the state it left the device in (DfuSession), so consecutive
// transfers set the address pointer only when it does not follow on and
// never pass through dfuIDLE between blocks.
//
// Every wait is bounded: a device that stays busy, stalls, answers short or
// oversized transfers, reports dfuERROR or disappears gives a result code of
// the KVBL_ interface, never a hang past the time-out and the cap below.
#ifndef DFUTARGET_H
#define DFUTARGET_H

#include <cstdint>
#include <functional>

#include "DfuLine.h"
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
// The longest one command may keep the device busy, whatever it announces,
// unless the port's time-out is longer: above every time-out the program
// sets for an operation (100 s for a mass erase or a CRC, 20 s for an
// unprotect) and the longest the user can give.
constexpr unsigned kBusyCapMs = 120000;

struct DfuStatus {
  uint8_t status = 0;
  uint32_t pollMs = 0;
  uint8_t state = 0;
};

// The interface result code of a DFU status: refusals of an address, of a
// file or of a protected chip are CMD_NOT_ALLOWED (the NACK of the other
// links, "The cmd not allowed!"), every other error CMD_FAIL.
BYTE StatusResult(uint8_t status);

class CDfuTarget {
 public:
  // The port's device, time-out (longest wait for one transfer, and the
  // time a busy phase may run over what the device announced) and session.
  explicit CDfuTarget(CDfuLine& line);

  BYTE getStatus(DfuStatus* s);
  // dfuIDLE from whatever state the device was left in: busy and
  // manifestation phases are waited through, dfuERROR is cleared, a
  // transfer in progress aborted. A device waiting for a reset after a
  // manifestation is reset, and the port must be opened again.
  BYTE toIdle();
  // The codes the device lists for block 0 (UPLOAD of block 0).
  BYTE commandList(uint8_t* out, uint16_t cap, uint16_t* got);
  // A block-0 command, waited for until the device is idle again.
  BYTE command(const uint8_t* bytes, uint16_t n);
  // A block-0 command after which the device resets (protection changes):
  // accepted once the device reports it busy; its disappearance then is the
  // reset, not a failure.
  BYTE commandThatResets(const uint8_t* bytes, uint16_t n);
  // Memory in whole transfer-size blocks, continuing the previous transfer
  // where it follows on.
  BYTE upload(uint32_t address, uint8_t* data, uint32_t n);
  BYTE download(uint32_t address, const uint8_t* data, uint32_t n);
  // Leaves DFU mode, starting the program at address: manifestation, then
  // the USB reset the device waits for (or that ends DFU mode on a device
  // that is back in dfuIDLE after manifesting).
  BYTE leave(uint32_t address);
  // Restarts the chip (its option bytes load): the reset command when the
  // device lists it, else a USB reset.
  BYTE restart();

 private:
  BYTE transfer(bool in, uint8_t request, uint16_t value, uint8_t* data, uint16_t n);
  BYTE failed(BYTE r);
  BYTE errorOf(const DfuStatus& s);
  BYTE waitDone(bool mayVanish);
  BYTE idleOrDownload();
  BYTE setAddress(uint32_t address);
  BYTE startUpload(uint32_t address);
  // Whether a data block at address continues the transfer the device is in.
  bool followsOn(uint8_t state, uint32_t address) const;
  // Block `block` of len bytes at address went through.
  void moved(uint16_t block, uint32_t address, uint16_t len, uint16_t size);
  // The transfer-size blocks of [address, address + n), each continuing the
  // transfer the device is in or starting one at its address; move carries
  // one (block number, offset in the range, length).
  using MoveBlock = std::function<BYTE(uint16_t block, uint32_t off, uint16_t len)>;
  BYTE blocks(uint32_t address, uint32_t n, bool up, const MoveBlock& move);
  uint16_t chunk() const;
  void left(uint8_t state);

  CDfuLine& m_line;
  CUsbDevice* m_dev;
  int m_lastUsb = 0;  // the last transfer's USB error, 0 when it went through
  DfuSession& m_session;
  unsigned m_timeoutMs;
};

}  // namespace kvdfu

#endif  // DFUTARGET_H
