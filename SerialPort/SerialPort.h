// Serial-port settings holder and the abstract port interface that every
// protocol library talks to its line through.
#ifndef SERIALPORT_H
#define SERIALPORT_H

#include <string>

enum FlowControl { FlowNone = 0, FlowHardware = 1, FlowSoftware = 2 };

class CSerialPort {
 public:
  CSerialPort() = default;
  virtual ~CSerialPort() = default;
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  virtual bool openPort() = 0;
  virtual void closePort() = 0;
  virtual bool isOpened() = 0;
  virtual int receiveData(unsigned long lg, unsigned char* data) = 0;
  virtual int receiveData(std::string* data) = 0;
  virtual int sendData(unsigned long lg, unsigned char* data) = 0;
  virtual int sendData(std::string* data) = 0;
  virtual bool setTimeOut(unsigned long ms) = 0;
  virtual void setFlowControl(FlowControl fc) = 0;
  virtual bool setRts(bool val) = 0;
  virtual bool setDtr(bool val) = 0;
  virtual bool setTxd(bool val) = 0;
  virtual bool getCts() = 0;
  virtual bool getDtr() = 0;
  virtual bool getRi() = 0;
  virtual bool getCd() = 0;
  virtual std::string getErrorMsg() = 0;

  // Stores the settings unchecked; openPort checks them.
  void setPortSettings(int numPort, std::string portName, long speedInBaud, int nbBit,
                       int parity, float nbStopBit);

  // Off (default): the rate table of the bridge libraries, anything unknown
  // runs at 115200. On: the port runs at exactly m_baudRate, through the
  // standard constants or an arbitrary-rate request to the driver.
  void setExactRate(bool exact) { m_bExactRate = exact; }
  bool exactRate() const { return m_bExactRate; }

  // True once the device went away under the open port (the adapter was
  // unplugged, the bridge's far end closed): the terminal hung up or
  // answered EIO/ENXIO. Nothing is sent or waited for on a gone line; the
  // state stays after the close, so a caller can tell why the line failed,
  // and a successful open clears it.
  bool lineGone() const { return m_bLineGone; }

  // Off (0, default): a receive waits for all its bytes until the time-out.
  // On: once bytes have begun to arrive, a pause longer than `ms` ends the
  // receive with what arrived (an answer that lost bytes on the way is short
  // at once, not after the whole time-out). The time-out still bounds the
  // wait for the first byte.
  void setAnswerGap(unsigned long ms) { m_answerGap = ms; }
  unsigned long answerGap() const { return m_answerGap; }

  static constexpr int kMaxPortNumber = 1024;

  bool isConnected = false;
  void* m_hcom = nullptr;
  std::string m_portName;
  int m_nPortNum = 1;
  int m_baudRate = 115200;
  int m_parity = 2;
  int m_dataBits = 8;
  float m_stopbits = 1.0f;
  bool m_flowControl = false;
  unsigned int m_readBufferSize = 2048;
  unsigned long m_timeout = 0;
  int m_bEcho = 0;
  bool m_bFlowControl = false;

 protected:
  bool m_bExactRate = false;
  bool m_bLineGone = false;
  unsigned long m_answerGap = 0;
};

#endif  // SERIALPORT_H
