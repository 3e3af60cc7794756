#include "SerialPortLinux.h"
#include "ThreadLatency.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

speed_t tableSpeed(int rate) {
  switch (rate) {
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    default: return B115200;
  }
}

}  // namespace

unsigned int SerialStandardSpeed(unsigned long rate) {
  struct Entry { unsigned long rate; speed_t speed; };
  static const Entry kSpeeds[] = {
      {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200},
      {300, B300}, {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400},
      {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000}};
  for (const Entry& e : kSpeeds)
    if (e.rate == rate) return e.speed;
  return 0;
}

CSerialPortLinux::~CSerialPortLinux() { closePort(); }

std::string CSerialPortLinux::devicePath() const {
  if (!m_portName.empty() && m_portName[0] == '/') return m_portName;
  return "/dev/" + m_portName;
}

void CSerialPortLinux::failOpen() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  hcom = nullptr;
  isConnected = false;
}

bool CSerialPortLinux::openPort() {
  if (isConnected) return true;
  if (m_nPortNum < 0 || m_nPortNum > kMaxPortNumber) return false;
  const std::string path = devicePath();
  // 9 data bits have no terminal setting: refused rather than run as 5.
  if (m_baudRate <= 0 || m_dataBits < 5 || m_dataBits > 8 || m_parity < 0 || m_parity > 2 ||
      !(m_stopbits >= 1.0f && m_stopbits <= 2.0f))
    return false;

  fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    std::string msg = "Open serial port failed(" + path + ")";
    perror(msg.c_str());
    fd = -1;
    return false;
  }
  if (fcntl(fd, F_SETFL, 0) < 0) {
    failOpen();
    return false;
  }
  // The device itself must be a terminal; what standard input is does not
  // matter (scripts and pipes drive the program too).
  if (!isatty(fd)) {
    perror("Standard input is not a terminal device");
    failOpen();
    return false;
  }
  if (!configure()) {
    failOpen();
    return false;
  }
  m_bLowLatencySet = SerialSetLowLatency(fd, true);
  isConnected = true;
  return true;
}

void CSerialPortLinux::buildAttributes(const struct termios& old, struct termios* out,
                                       bool* arbitrary) const {
  struct termios t = old;
  cfmakeraw(&t);
  t.c_cflag &= ~CSIZE;

  speed_t speed = tableSpeed(m_baudRate);
  *arbitrary = false;
  if (m_bExactRate) {
    speed = SerialStandardSpeed(static_cast<unsigned long>(m_baudRate));
    if (speed == 0) {
      speed = B38400;  // stand-in until the arbitrary rate is applied
      *arbitrary = true;
    }
  }
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);

  switch (m_dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
  }
  if (m_parity == 0) {
    t.c_cflag &= ~PARENB;
  } else if (m_parity == 1) {
    t.c_cflag |= PARENB | PARODD;
  } else {
    t.c_cflag |= PARENB;
    t.c_cflag &= ~PARODD;
  }
  if (m_stopbits == 1.0f) t.c_cflag &= ~CSTOPB;
  else if (m_stopbits == 2.0f) t.c_cflag |= CSTOPB;
  else t.c_cflag = (t.c_cflag & ~CSTOPB) | (old.c_cflag & CSTOPB);  // 1.5: as the device had it

  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~CRTSCTS;
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE);
  t.c_iflag &= ~(BRKINT | INPCK | ISTRIP | ICRNL | IXON);
  t.c_cc[VTIME] = 0;
  t.c_cc[VMIN] = 0;
  *out = t;
}

bool CSerialPortLinux::configure() {
  struct termios old;
  if (tcgetattr(fd, &old) != 0) return false;
  struct termios t;
  bool arbitrary = false;
  buildAttributes(old, &t, &arbitrary);
  usleep(200000);
  tcflush(fd, TCIFLUSH);
  tcflush(fd, TCOFLUSH);
  if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
  if (arbitrary && !SerialSetArbitraryRate(fd, static_cast<unsigned long>(m_baudRate)))
    return false;
  return true;
}

void CSerialPortLinux::closePort() {
  if (fd >= 0) {
    if (m_bLowLatencySet) SerialSetLowLatency(fd, false);
    ::close(fd);
  }
  m_bLowLatencySet = false;
  fd = -1;
  hcom = nullptr;
  isConnected = false;
}

bool CSerialPortLinux::setTimeOut(unsigned long ms) {
  m_timeout = ms;
  return true;
}

int CSerialPortLinux::receiveTimed(unsigned long lg, unsigned char* data) {
  if (m_timeout == 0) return 0;
  // The thread that waits for answers wakes in time on a busy machine.
  static thread_local bool s_sliceAsked = false;
  if (!s_sliceAsked) {
    s_sliceAsked = true;
    RequestShortTimeSlice();
  }
  // Bounded so that the deadline cannot overflow the clock (about 24 days).
  const unsigned long ms = m_timeout < 0x7FFFFFFFul ? m_timeout : 0x7FFFFFFFul;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  unsigned long total = 0;
  for (;;) {
    // Waits first: right after a send the answer is not there yet, and a
    // read that finds nothing would cost a system call per exchange.
    const Clock::time_point now = Clock::now();
    int waitMs = 0;
    if (now < deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
      waitMs = static_cast<int>((left + 999) / 1000);
    }
    struct pollfd p = {fd, POLLIN, 0};
    const int r = ::poll(&p, 1, waitMs);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) {
      if (Clock::now() >= deadline) return static_cast<int>(total);
      continue;
    }
    if (!(p.revents & POLLIN)) {
      if (p.revents & (POLLERR | POLLNVAL)) return -1;
      // The other end hung up and nothing is left to read: nothing more comes.
      return static_cast<int>(total);
    }
    ssize_t n = ::read(fd, data + total, lg - total);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) n = 0;
      else return -1;
    }
    total += static_cast<unsigned long>(n);
    if (total >= lg) return static_cast<int>(lg);
    if (n == 0 && (p.revents & POLLHUP)) return static_cast<int>(total);
  }
}

int CSerialPortLinux::receiveData(unsigned long lg, unsigned char* data) {
  if (data == nullptr) return 0;
  if (lg == 0) return 0;
  switch (m_bEcho) {
    case 0:
      return receiveTimed(lg, data);
    case 1:
      // Each received byte is preceded by the echo of a transmitted one.
      for (unsigned long i = 0; i < lg; ++i) {
        if (::read(fd, data + i, 1) < 0) return -1;
        if (::read(fd, data + i, 1) < 0) return -1;
      }
      return static_cast<int>(lg);
    case 2: {
      ssize_t n = ::read(fd, data, 1);
      return n < 0 ? -1 : static_cast<int>(n);
    }
    default:
      return -1;
  }
}

int CSerialPortLinux::receiveData(std::string* data) {
  if (data == nullptr) return 0;
  unsigned char buf[1025];
  int n = receiveData(1024, buf);
  if (n < 0) return n;
  buf[n] = 0;
  data->assign(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
  return n;
}

int CSerialPortLinux::sendData(unsigned long lg, unsigned char* data) {
  if (data == nullptr) return 0;
  if (m_bEcho == 2) {
    for (unsigned long i = 0; i < lg; ++i) {
      if (::write(fd, data + i, 1) != 1) return -1;
      if (::read(fd, data + i, 1) < 0) return -1;  // the echo replaces the byte
    }
    return static_cast<int>(lg);
  }
  unsigned long done = 0;
  while (done < lg) {
    ssize_t n = ::write(fd, data + done, lg - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? static_cast<int>(done) : -1;
    }
    if (n == 0) break;
    done += static_cast<unsigned long>(n);
  }
  return static_cast<int>(done);
}

int CSerialPortLinux::sendData(std::string* data) {
  if (data == nullptr) return 0;
  return sendData(data->size(), reinterpret_cast<unsigned char*>(&(*data)[0]));
}

bool CSerialPortLinux::setModemBit(int bit, bool val) {
  int status = 0;
  if (ioctl(fd, TIOCMGET, &status) < 0) return false;
  if (val) status |= bit;
  else status &= ~bit;
  return ioctl(fd, TIOCMSET, &status) >= 0;
}

bool CSerialPortLinux::setRts(bool val) { return setModemBit(TIOCM_RTS, val); }
bool CSerialPortLinux::setDtr(bool val) { return setModemBit(TIOCM_DTR, val); }

bool CSerialPortLinux::getDtr() {
  int status = 0;
  if (ioctl(fd, TIOCMGET, &status) < 0) return false;
  return (status & TIOCM_DTR) != 0;
}
