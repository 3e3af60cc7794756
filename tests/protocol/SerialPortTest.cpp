// The serial port on a pseudo-terminal: settings, time-outs, open failures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "SerialPortLinux.h"

namespace {

// A pty master; the port opens its slave.
class Pty {
 public:
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    slave = ptsname(master);
    // Keep one slave descriptor open so that the master never sees a hang-up.
    keep = open(slave.c_str(), O_RDWR | O_NOCTTY);
  }
  ~Pty() {
    close(keep);
    close(master);
  }
  std::string name() const { return slave.substr(5); }  // without "/dev/"
  void send(const std::string& s) { ASSERT_EQ(ssize_t(s.size()), write(master, s.data(), s.size())); }
  std::string take() {
    char buf[256];
    ssize_t n = read(master, buf, sizeof(buf));
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
  }
  int master = -1, keep = -1;
  std::string slave;
};

void configure(CSerialPortLinux& p, const std::string& name, long baud, int bits, int parity, float stop) {
  p.setPortSettings(3, name, baud, bits, parity, stop);
}

struct termios attrs(const Pty& t) {
  struct termios a;
  tcgetattr(t.keep, &a);
  return a;
}

// A pseudo-terminal keeps its own character size and parity, so those are
// checked on the attributes the port builds; the pty checks the rest.
TEST(SerialPort, CharacterSizeParityAndStopBits) {
  struct { int bits, parity; float stop; bool oldStop; tcflag_t size; bool parenb, parodd, cstopb; } cases[] = {
      {8, 2, 1.0f, true, CS8, true, false, false},
      {7, 1, 2.0f, false, CS7, true, true, true},
      {8, 0, 1.0f, false, CS8, false, false, false},
      {5, 0, 2.0f, false, CS5, false, false, true},
      {6, 2, 1.5f, true, CS6, true, false, true},    // 1.5 keeps the device's flag
      {6, 2, 1.5f, false, CS6, true, false, false},
  };
  for (auto& c : cases) {
    CSerialPortLinux p;
    configure(p, "x", 115200, c.bits, c.parity, c.stop);
    struct termios old {};
    old.c_cflag = CS8 | PARENB | (c.oldStop ? CSTOPB : 0);
    struct termios a;
    bool arbitrary = true;
    p.buildAttributes(old, &a, &arbitrary);
    EXPECT_FALSE(arbitrary);
    EXPECT_EQ(c.size, a.c_cflag & CSIZE);
    EXPECT_EQ(c.parenb, (a.c_cflag & PARENB) != 0);
    EXPECT_EQ(c.parodd, (a.c_cflag & PARODD) != 0);
    EXPECT_EQ(c.cstopb, (a.c_cflag & CSTOPB) != 0);
    EXPECT_FALSE(a.c_cflag & CRTSCTS);
  }
}

TEST(SerialPort, OpenAppliesRawModeAndNonBlockingReads) {
  Pty t;
  CSerialPortLinux p;
  configure(p, t.name(), 115200, 8, 2, 1.0f);
  ASSERT_TRUE(p.openPort());
  struct termios a = attrs(t);
  EXPECT_TRUE(a.c_cflag & CREAD);
  EXPECT_FALSE(a.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(a.c_oflag & OPOST);
  EXPECT_FALSE(a.c_iflag & (ICRNL | IXON));
  EXPECT_EQ(0, a.c_cc[VMIN]);
  EXPECT_EQ(0, a.c_cc[VTIME]);
  EXPECT_TRUE(p.isConnected);
  p.closePort();
  EXPECT_FALSE(p.isConnected);
  EXPECT_EQ(-1, p.fd);
}

TEST(SerialPort, RateTableAndExactRates) {
  struct { long baud; bool exact; unsigned long expect; } cases[] = {
      {1200, false, 115200},   // not in the bridge table: 115200
      {460800, false, 460800},
      {921600, false, 115200},
      {921600, true, 921600},
      {1200, true, 1200},
      {128000, true, 128000},  // no standard constant: arbitrary rate
      {256000, true, 256000},
      {1000000, true, 1000000},
  };
  for (auto& c : cases) {
    Pty t;
    CSerialPortLinux p;
    configure(p, t.name(), c.baud, 8, 2, 1.0f);
    p.setExactRate(c.exact);
    ASSERT_TRUE(p.openPort()) << c.baud;
    unsigned long in = 0, out = 0;
    ASSERT_TRUE(SerialGetRates(t.keep, &in, &out));
    EXPECT_EQ(c.expect, in) << c.baud;
    EXPECT_EQ(c.expect, out) << c.baud;
  }
}

TEST(SerialPort, OpenFailuresCloseEverythingAndSayWhy) {
  CSerialPortLinux p;
  configure(p, "tarnflash-no-such-device", 115200, 8, 2, 1.0f);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(p.openPort());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(0u, err.find("Open serial port failed(/dev/tarnflash-no-such-device): "));
  EXPECT_FALSE(p.isConnected);
  EXPECT_EQ(-1, p.fd);

  // A device that is not a terminal.
  char path[] = "/tmp/protocol_serial_XXXXXX";
  int f = mkstemp(path);
  ASSERT_GE(f, 0);
  close(f);
  CSerialPortLinux file;
  configure(file, path, 115200, 8, 2, 1.0f);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(file.openPort());
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(0u, err.find("Standard input is not a terminal device"));
  EXPECT_FALSE(file.isConnected);
  EXPECT_EQ(-1, file.fd);
  unlink(path);
}

TEST(SerialPort, RefusesSettingsWithoutSystemCalls) {
  Pty t;
  struct { int port; long baud; int bits; int parity; float stop; } bad[] = {
      {1025, 115200, 8, 2, 1.0f}, {3, 115200, 9, 2, 1.0f}, {3, 0, 8, 2, 1.0f},
      {3, 115200, 8, 3, 1.0f},    {3, 115200, 8, 2, 3.0f},
  };
  for (auto& c : bad) {
    CSerialPortLinux p;
    p.setPortSettings(c.port, t.name(), c.baud, c.bits, c.parity, c.stop);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(p.openPort());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ(-1, p.fd);
  }
}

TEST(SerialPort, StandardInputDoesNotMatter) {
  Pty t;
  int saved = dup(0);
  int devnull = open("/dev/null", O_RDONLY);
  dup2(devnull, 0);
  CSerialPortLinux p;
  configure(p, t.name(), 115200, 8, 2, 1.0f);
  const bool ok = p.openPort();
  dup2(saved, 0);
  close(saved);
  close(devnull);
  EXPECT_TRUE(ok);
}

TEST(SerialPort, FullDevicePathIsAccepted) {
  Pty t;
  CSerialPortLinux p;
  configure(p, t.slave, 115200, 8, 2, 1.0f);
  EXPECT_TRUE(p.openPort());
}

TEST(SerialPort, ReceiveTimeOuts) {
  Pty t;
  CSerialPortLinux p;
  configure(p, t.name(), 115200, 8, 2, 1.0f);
  ASSERT_TRUE(p.openPort());
  unsigned char buf[4] = {0, 0, 0, 0};

  // Time-out 0: nothing is read, even with bytes waiting.
  t.send("ab");
  usleep(20000);
  EXPECT_EQ(0, p.receiveData(2, buf));

  // The waiting bytes are then received at once.
  p.setTimeOut(500);
  EXPECT_EQ(2, p.receiveData(2, buf));
  EXPECT_EQ('a', buf[0]);

  // One byte of two arrives: the short count after the time-out.
  p.setTimeOut(150);
  t.send("z");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(1, p.receiveData(2, buf));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 140);
  EXPECT_EQ('z', buf[0]);

  // Bytes that arrive while waiting complete the receive.
  p.setTimeOut(2000);
  t.send("1");
  EXPECT_EQ(1, p.receiveData(1, buf));
  EXPECT_EQ(0, p.receiveData(1, nullptr));
}

TEST(SerialPort, SendAndEchoModes) {
  Pty t;
  CSerialPortLinux p;
  configure(p, t.name(), 115200, 8, 2, 1.0f);
  ASSERT_TRUE(p.openPort());
  unsigned char msg[3] = {'x', 'y', 'z'};
  EXPECT_EQ(3, p.sendData(3, msg));
  usleep(20000);
  EXPECT_EQ("xyz", t.take());

  // Echo mode 2: each byte sent is replaced by the byte read back.
  t.send("ABC");
  usleep(20000);
  p.m_bEcho = 2;
  EXPECT_EQ(3, p.sendData(3, msg));
  EXPECT_EQ('A', msg[0]);
  EXPECT_EQ('C', msg[2]);
  p.m_bEcho = 7;
  EXPECT_EQ(-1, p.receiveData(1, msg));
}

}  // namespace
