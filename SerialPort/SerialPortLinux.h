// CSerialPortLinux: the serial port on the POSIX terminal interface.
#ifndef SERIALPORTLINUX_H
#define SERIALPORTLINUX_H

#include <termios.h>

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

  // The attributes openPort applies, built from the settings and the
  // device's current ones; *arbitrary tells that the exact rate has no
  // standard constant and is applied afterwards.
  void buildAttributes(const struct termios& old, struct termios* t, bool* arbitrary) const;

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

#include "SerialPortRate.h"

#endif  // SERIALPORTLINUX_H
