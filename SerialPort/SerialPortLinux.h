// CSerialPortLinux: the serial port on the POSIX terminal interface.
#ifndef SERIALPORTLINUX_H
#define SERIALPORTLINUX_H

#include <sys/types.h>
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

  // A pseudo-terminal (a network bridge, socat, kv32sim) carries bytes, not
  // characters: it always holds 8 data bits without parity. The port asks it
  // for exactly that, so the data-bits and parity settings have no meaning
  // there (the far end of the bridge owns the real line's settings).
  static bool isPseudoTerminal(int fd);
  static void holdableOnPseudoTerminal(struct termios* t);

  void* hcom = nullptr;
  int fd = -1;
  std::thread m_monitorThread;  // unused: the port has no threads
  bool m_isThreadRunning = false;
  std::mutex m_communicationMutex;

 private:
  bool configure();
  bool appliedAsAsked(const struct termios& asked, bool arbitrary) const;
  bool takeExclusively(const std::string& path);
  void reportOpenFailure(const std::string& path, int err) const;
  int receiveTimed(unsigned long lg, unsigned char* data);
  // One read or write of the descriptor; an error that means the device is
  // gone marks the line so.
  ssize_t readLine(unsigned char* data, size_t n);
  ssize_t writeLine(const unsigned char* data, size_t n);
  int lineGoneBy(int err);
  bool setModemBit(int bit, bool val);
  void release();

  bool m_bLowLatencySet = false;  // ASYNC_LOW_LATENCY was switched on by us
  bool m_bExclusive = false;      // TIOCEXCL was set by us
};

#include "SerialPortRate.h"

#endif  // SERIALPORTLINUX_H
