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

class CDfuLine : public CSerialPort {
 public:
  // Opens the DFU device whose listing index is m_nPortNum; getErrorMsg()
  // then says why it could not be.
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

  CUsbDevice* device() { return m_dev.get(); }
  const DfuIdentity& identity() const { return m_identity; }
  // Block-0 codes the device listed at the last GET.
  std::vector<uint8_t> commands;
  bool lists(uint8_t code) const;

 private:
  std::unique_ptr<CUsbDevice> m_dev;
  DfuIdentity m_identity;
  std::string m_error;
};

}  // namespace kvdfu

#endif  // DFULINE_H
