#include "SerialPortLinux.h"
#include "ThreadLatency.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
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

// Whether the kernel's terminal drivers own these device numbers (serial
// ports, USB adapters, pseudo-terminal slaves), from /proc/tty/drivers; a
// system without that list lets every character device pass. The multiplexer
// /dev/ptmx, the master sides and /dev/tty (the caller's own terminal) are
// no ports.
bool terminalDriverOwns(dev_t rdev) {
  FILE* f = std::fopen("/proc/tty/drivers", "re");
  if (f == nullptr) return true;
  const unsigned devMajor = major(rdev), devMinor = minor(rdev);
  bool owned = false;
  char line[256];
  while (!owned && std::fgets(line, sizeof line, f)) {
    char node[128], minors[64], type[64];
    unsigned m = 0, first = 0, last = 0;
    if (std::sscanf(line, "%*s %127s %u %63s %63s", node, &m, minors, type) != 4 || m != devMajor) continue;
    const int parts = std::sscanf(minors, "%u-%u", &first, &last);
    if (parts < 1) continue;
    if (parts == 1) last = first;
    if (devMinor < first || devMinor > last) continue;
    const std::string n(node), t(type);
    owned = t != "pty:master" && n != "/dev/ptmx" && t.rfind("system:/dev/tty", 0) != 0;
  }
  std::fclose(f);
  return owned;
}

// Empty when the path names a terminal device; else what it is. Decided
// before the path is opened: opening some devices has effects of its own
// (a watchdog starts, a FIFO's writer is released).
std::string notATerminal(const struct stat& st) {
  if (S_ISCHR(st.st_mode)) return terminalDriverOwns(st.st_rdev) ? std::string() : "a device that is no terminal";
  if (S_ISREG(st.st_mode)) return "a regular file";
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  if (S_ISBLK(st.st_mode)) return "a block device";
  return "no device";
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

bool CSerialPortLinux::isPseudoTerminal(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  // Terminal sides of the Unix 98 pseudo-terminals (majors 136-143), and of
  // the old BSD ones (major 3).
  return (m >= 136 && m <= 143) || m == 3;
}

void CSerialPortLinux::holdableOnPseudoTerminal(struct termios* t) {
  t->c_cflag = (t->c_cflag & ~(CSIZE | PARENB | PARODD)) | CS8;
  t->c_iflag &= ~(INPCK | IGNPAR);
}

void CSerialPortLinux::reportOpenFailure(const std::string& path, int err) const {
  std::string reason;
  if (err == EBUSY || err == EWOULDBLOCK) {
    reason = "the port is in use by another program";
  } else {
    reason = strerror(err);
    struct stat st;
    if ((err == EACCES || err == EPERM) && stat(path.c_str(), &st) == 0) {
      char buf[1024];
      struct group g;
      struct group* found = nullptr;
      if (getgrgid_r(st.st_gid, &g, buf, sizeof buf, &found) == 0 && found != nullptr)
        reason += std::string(" (the port belongs to the group ") + found->gr_name +
                  "; a user outside it cannot open it)";
    }
  }
  std::fprintf(stderr, "Open serial port failed(%s): %s\n", path.c_str(), reason.c_str());
}

// Only one program drives a port: the lock is what cooperating programs
// check, the exclusive mode keeps out others (except privileged ones). Both
// are taken before the port's settings or queues are touched.
bool CSerialPortLinux::takeExclusively(const std::string& path) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    reportOpenFailure(path, errno);
    return false;
  }
  m_bExclusive = ioctl(fd, TIOCEXCL) == 0;
  return true;
}

void CSerialPortLinux::release() {
  if (fd >= 0) {
    if (m_bLowLatencySet) SerialSetLowLatency(fd, false);
    if (m_bExclusive) ioctl(fd, TIOCNXCL);
    ::close(fd);  // also releases the lock
  }
  m_bLowLatencySet = false;
  m_bExclusive = false;
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

  struct stat named;
  if (stat(path.c_str(), &named) != 0) {
    reportOpenFailure(path, errno);
    return false;
  }
  const std::string what = notATerminal(named);
  if (!what.empty()) {
    std::fprintf(stderr, "Open serial port failed(%s): %s, not a terminal device; it was not opened\n",
                 path.c_str(), what.c_str());
    return false;
  }
  // Not inherited by programs this process starts: they would keep the
  // port, and its lock, open after it is closed here.
  fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    reportOpenFailure(path, errno);
    fd = -1;
    return false;
  }
  // The device opened is the one that was checked (the name was not
  // pointed elsewhere in between).
  struct stat opened;
  if (fstat(fd, &opened) != 0 || opened.st_rdev != named.st_rdev || opened.st_ino != named.st_ino ||
      opened.st_dev != named.st_dev) {
    std::fprintf(stderr, "Open serial port failed(%s): the name changed while it was opened\n", path.c_str());
    release();
    return false;
  }
  if (fcntl(fd, F_SETFL, 0) < 0) {
    release();
    return false;
  }
  // The device itself must be a terminal; what standard input is does not
  // matter (scripts and pipes drive the program too).
  if (!isatty(fd)) {
    perror("Standard input is not a terminal device");
    release();
    return false;
  }
  if (!takeExclusively(path) || !configure()) {
    release();
    return false;
  }
  m_bLowLatencySet = SerialSetLowLatency(fd, true);
  m_bLineGone = false;
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
  t.c_iflag &= ~(BRKINT | INPCK | ISTRIP | ICRNL | IXON | IGNPAR);
  // With parity, a byte that arrives with a parity error is dropped: the
  // exchange then fails as a time-out or a refusal, never with a changed byte.
  if (m_parity != 0) t.c_iflag |= INPCK | IGNPAR;
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
  const bool pty = isPseudoTerminal(fd);
  if (pty) holdableOnPseudoTerminal(&t);
  usleep(200000);
  tcflush(fd, TCIFLUSH);
  tcflush(fd, TCOFLUSH);
  if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
  if (arbitrary && !SerialSetArbitraryRate(fd, static_cast<unsigned long>(m_baudRate)))
    return false;
  // A pseudo-terminal accepts whatever it is told: what it holds is read back.
  return !pty || appliedAsAsked(t, arbitrary);
}

bool CSerialPortLinux::appliedAsAsked(const struct termios& asked, bool arbitrary) const {
  struct termios now;
  if (tcgetattr(fd, &now) != 0) return false;
  if (arbitrary) {
    unsigned long in = 0, out = 0;
    const unsigned long rate = static_cast<unsigned long>(m_baudRate);
    if (!SerialGetRates(fd, &in, &out) || in != rate || out != rate) return false;
  } else if (cfgetispeed(&now) != cfgetispeed(&asked) || cfgetospeed(&now) != cfgetospeed(&asked)) {
    return false;
  }
  const tcflag_t speedBits = CBAUD | CIBAUD;
  return now.c_iflag == asked.c_iflag && now.c_oflag == asked.c_oflag &&
         now.c_lflag == asked.c_lflag &&
         (now.c_cflag & ~speedBits) == (asked.c_cflag & ~speedBits) &&
         now.c_cc[VMIN] == asked.c_cc[VMIN] && now.c_cc[VTIME] == asked.c_cc[VTIME];
}

void CSerialPortLinux::closePort() { release(); }

bool CSerialPortLinux::setTimeOut(unsigned long ms) {
  m_timeout = ms;
  return true;
}

int CSerialPortLinux::lineGoneBy(int err) {
  // What a terminal answers once its device has gone (a USB adapter
  // unplugged, the master of a pseudo-terminal closed).
  if (err == EIO || err == ENXIO || err == ENODEV) m_bLineGone = true;
  return -1;
}

ssize_t CSerialPortLinux::readLine(unsigned char* data, size_t n) {
  for (;;) {
    const ssize_t r = ::read(fd, data, n);
    if (r >= 0) return r;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    return lineGoneBy(errno);
  }
}

ssize_t CSerialPortLinux::writeLine(const unsigned char* data, size_t n) {
  for (;;) {
    const ssize_t r = ::write(fd, data, n);
    if (r >= 0) return r;
    if (errno == EINTR) continue;
    return lineGoneBy(errno);
  }
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
  Clock::time_point lastArrival;
  for (;;) {
    // An answer that has begun and then pauses longer than the answer gap
    // has lost bytes on the way: it ends there.
    Clock::time_point until = deadline;
    if (total > 0 && m_answerGap > 0)
      until = std::min(until, lastArrival + std::chrono::milliseconds(m_answerGap));
    // Waits first: right after a send the answer is not there yet, and a
    // read that finds nothing would cost a system call per exchange.
    const Clock::time_point now = Clock::now();
    int waitMs = 0;
    if (now < until) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - now).count();
      waitMs = static_cast<int>((left + 999) / 1000);
    }
    struct pollfd p = {fd, POLLIN, 0};
    const int r = ::poll(&p, 1, waitMs);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) {
      if (Clock::now() >= until) return static_cast<int>(total);
      continue;
    }
    // A hang-up or an error condition on a terminal means its device went
    // away: nothing more will come, however long the wait.
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
      m_bLineGone = (p.revents & POLLNVAL) == 0;
      return -1;
    }
    const ssize_t n = readLine(data + total, lg - total);
    if (n < 0) return -1;
    if (n > 0) lastArrival = Clock::now();
    total += static_cast<unsigned long>(n);
    if (total >= lg) return static_cast<int>(lg);
  }
}

int CSerialPortLinux::receiveData(unsigned long lg, unsigned char* data) {
  if (data == nullptr) return 0;
  if (lg == 0) return 0;
  if (m_bLineGone) return -1;
  switch (m_bEcho) {
    case 0:
      return receiveTimed(lg, data);
    case 1:
      // Each received byte is preceded by the echo of a transmitted one.
      for (unsigned long i = 0; i < lg; ++i) {
        if (readLine(data + i, 1) < 0) return -1;
        if (readLine(data + i, 1) < 0) return -1;
      }
      return static_cast<int>(lg);
    case 2: {
      const ssize_t n = readLine(data, 1);
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
  if (m_bLineGone) return -1;
  if (m_bEcho == 2) {
    for (unsigned long i = 0; i < lg; ++i) {
      if (writeLine(data + i, 1) != 1) return -1;
      if (readLine(data + i, 1) < 0) return -1;  // the echo replaces the byte
    }
    return static_cast<int>(lg);
  }
  unsigned long done = 0;
  while (done < lg) {
    const ssize_t n = writeLine(data + done, lg - done);
    if (n < 0) return done > 0 && !m_bLineGone ? static_cast<int>(done) : -1;
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
