// A port bound to a USB device in DFU mode. It takes the serial port's
// place in the port table while open, so that the open state and the
// time-out of a DFU port are kept where every other port keeps them.
#ifndef DFULINE_H
#define DFULINE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SerialPort.h"
#include "UsbDevice.h"

namespace kvdfu {

// What the device's identity text (its DFU interface string) carries,
// as KEY=value words: PID (8 hex digits), SER (2), VER (2), BID (4), and in
// decimal SECT (main flash sector size in bytes) and FLASH (main flash in KB).
// Unknown words are ignored.
struct DfuIdentity {
  bool hasId = false;
  uint32_t pid = 0;
  uint8_t series = 0;
  bool hasVersion = false;
  uint8_t version = 0;
  uint16_t bid = 0;
  uint32_t sectorSize = 0;  // 0: unknown, sectors cannot be erased by number
  uint32_t flashKB = 0;     // 0: unknown, banks cannot be erased
};
DfuIdentity ParseIdentity(const std::string& text);

// What went wrong with DFU devices since the last listing (a device that
// could not be opened, and why), kept for KVBL_GetKVDeviceProblems.
void NoteDfuProblem(const std::string& text);

// What the host knows of the device's side between requests, so that
// consecutive transfers need not ask: the state it left the device in, the
// address pointer, and the data block that would follow on. Forgotten after
// any failure (the next exchange asks the device first).
struct DfuSession {
  bool stateKnown = false;
  uint8_t state = 2;        // dfuIDLE, dfuDNLOAD-IDLE or dfuUPLOAD-IDLE
  bool followOn = false;    // a data block at nextAddress needs no new pointer
  uint16_t nextBlock = 2;
  uint32_t nextAddress = 0;
  void forget() { *this = DfuSession(); }
};

// The last error status the device reported (bStatus != OK), kept until the
// next call on the port begins; 0 when there was none.
struct DfuErrorStatus {
  uint8_t status = 0;
  uint8_t state = 0;
};

class CDfuLine : public CSerialPort {
 public:
  // Opens the chip the port is bound to (KVBL_BindDFUDevice), else the one
  // whose listing index is m_nPortNum; getErrorMsg() then says why it could
  // not be.
  bool openPort() override;
  void closePort() override;
  bool isOpened() override { return isConnected; }
  // A DFU port carries no byte stream.
  int receiveData(unsigned long, unsigned char*) override { return -1; }
  int receiveData(std::string*) override { return -1; }
  int sendData(unsigned long, unsigned char*) override { return -1; }
  int sendData(std::string*) override { return -1; }
  bool setTimeOut(unsigned long ms) override {
    m_timeout = ms;
    return true;
  }
  void setFlowControl(FlowControl) override {}
  bool setRts(bool) override { return false; }
  bool setDtr(bool) override { return false; }
  bool setTxd(bool) override { return false; }
  bool getCts() override { return false; }
  bool getDtr() override { return false; }
  bool getRi() override { return false; }
  bool getCd() override { return false; }
  std::string getErrorMsg() override { return m_error; }

  // Binds the port to the chip at a place on the bus with a serial number:
  // every later open, the first and each reopen after the chip restarted,
  // reaches that chip or none. An empty path unbinds (open by index again).
  void bind(const std::string& path, const std::string& serial);
  bool bound() const { return m_choice.byPlace(); }

  CUsbDevice* device() { return m_dev.get(); }
  const DfuIdentity& identity() const { return m_identity; }
  DfuSession& session() { return m_session; }
  DfuErrorStatus& errorStatus() { return m_status; }
  // Block-0 codes the device listed at the last GET.
  std::vector<uint8_t> commands;
  bool lists(uint8_t code) const;

 private:
  std::unique_ptr<CUsbDevice> m_dev;
  DfuChoice m_choice;
  DfuIdentity m_identity;
  DfuSession m_session;
  DfuErrorStatus m_status;
  std::string m_error;
};

}  // namespace kvdfu

#endif  // DFULINE_H
