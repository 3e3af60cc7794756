// CSerialPortLinux: the serial port on the POSIX terminal interface.
#ifndef SERIALPORTLINUX_H
#define SERIALPORTLINUX_H

#include <mutex>
#include <thread>

#include "SerialPort.h"

class CSerialPortLinux : public CSerialPort {
 public:
  CSerialPortLinux() = default;
  ~CSerialPortLinux() override;

  bool openPort() override;
  void closePort() override;
  bool isOpened() override { return false; }  // callers read isConnected
  int receiveData(unsigned long lg, unsigned char* data) override;
  int receiveData(std::string* data) override;
  int sendData(unsigned long lg, unsigned char* data) override;
  int sendData(std::string* data) override;
  bool setTimeOut(unsigned long ms) override;
  void setFlowControl(FlowControl) override {}
  bool setRts(bool val) override;
  bool setDtr(bool val) override;
  bool setTxd(bool) override { return false; }
  bool getCts() override { return false; }
  bool getDtr() override;
  bool getRi() override { return false; }
  bool getCd() override { return false; }
  std::string getErrorMsg() override { return std::string(); }

  bool setSpeed(unsigned long speed) { return speed != 0; }
  bool ClearSerialPortReceiveBuffer() { return true; }

  // The full device path openPort uses: a name with a leading '/' is a path
  // already, any other name lives in /dev.
  std::string devicePath() const;

  void* hcom = nullptr;
  int fd = -1;
  std::thread m_monitorThread;  // unused: the port has no threads
  bool m_isThreadRunning = false;
  std::mutex m_communicationMutex;

 private:
  bool configure();
  int receiveTimed(unsigned long lg, unsigned char* data);
  bool setModemBit(int bit, bool val);
  void failOpen();

  bool m_bLowLatencySet = false;  // ASYNC_LOW_LATENCY was switched on by us
};

// Maps an exact rate to a standard terminal speed constant; 0 when there is
// none (the rate then needs an arbitrary-rate request).
unsigned int SerialStandardSpeed(unsigned long rate);
// Applies an arbitrary rate to both directions of an open terminal.
bool SerialSetArbitraryRate(int fd, unsigned long rate);
// Reads the rate of both directions back; false when the driver cannot say.
bool SerialGetRates(int fd, unsigned long* in, unsigned long* out);
// Best-effort low-latency switch of USB serial drivers; returns true when
// the flag was changed (so that it is restored on close).
bool SerialSetLowLatency(int fd, bool on);

#endif  // SERIALPORTLINUX_H
