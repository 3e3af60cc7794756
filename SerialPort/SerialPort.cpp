#include "SerialPort.h"

#include <climits>
#include <utility>

void CSerialPort::setPortSettings(int numPort, std::string portName, long speedInBaud, int nbBit,
                                  int parity, float nbStopBit) {
  m_nPortNum = numPort;
  m_portName = std::move(portName);
  // A rate that does not fit is stored as 0, which openPort refuses.
  m_baudRate = (speedInBaud > INT_MAX || speedInBaud < 0) ? 0 : static_cast<int>(speedInBaud);
  m_dataBits = nbBit;
  m_parity = parity;
  m_stopbits = nbStopBit;
}
