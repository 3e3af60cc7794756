// The serial port on a pseudo-terminal: settings, time-outs, open failures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

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
    if (master >= 0) close(master);
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
// checked on the attributes the port builds; the pty checks the rest. With
// parity on, a byte with a parity error is dropped (INPCK with IGNPAR), never
// delivered as data; without parity neither flag is set. Nothing else of the
// attributes depends on the parity.
TEST(SerialPort, CharacterSizeParityAndStopBits) {
  struct { int bits, parity; float stop; bool oldStop; tcflag_t size; bool parenb, parodd, cstopb; } cases[] = {
      {8, 2, 1.0f, true, CS8, true, false, false},
      {7, 1, 2.0f, false, CS7, true, true, true},
      {8, 0, 1.0f, false, CS8, false, false, false},
      {5, 0, 2.0f, false, CS5, false, false, true},
      {6, 2, 1.5f, true, CS6, true, false, true},    // 1.5 keeps the device's flag
      {6, 2, 1.5f, false, CS6, true, false, false},
  };
  const tcflag_t parityFlags = PARENB | PARODD;
  const tcflag_t checkFlags = INPCK | IGNPAR;
  for (auto& c : cases) {
    // The device had every input flag set: the port decides each one.
    struct termios old {};
    old.c_cflag = CS8 | PARENB | (c.oldStop ? CSTOPB : 0);
    old.c_iflag = INPCK | IGNPAR | PARMRK | ISTRIP | ICRNL | IXON | BRKINT;
    struct termios a[3];
    for (int parity = 0; parity < 3; ++parity) {
      CSerialPortLinux p;
      configure(p, "x", 115200, c.bits, parity, c.stop);
      bool arbitrary = true;
      p.buildAttributes(old, &a[parity], &arbitrary);
      EXPECT_FALSE(arbitrary);
      EXPECT_EQ(parity != 0 ? checkFlags : 0u, a[parity].c_iflag & (checkFlags | PARMRK | ISTRIP))
          << "parity " << parity;
    }
    const struct termios& t = a[c.parity];
    EXPECT_EQ(c.size, t.c_cflag & CSIZE);
    EXPECT_EQ(c.parenb, (t.c_cflag & PARENB) != 0);
    EXPECT_EQ(c.parodd, (t.c_cflag & PARODD) != 0);
    EXPECT_EQ(c.cstopb, (t.c_cflag & CSTOPB) != 0);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    for (int parity = 1; parity < 3; ++parity) {
      EXPECT_EQ(a[0].c_cflag & ~parityFlags, a[parity].c_cflag & ~parityFlags);
      EXPECT_EQ(a[0].c_iflag, a[parity].c_iflag & ~checkFlags);
      EXPECT_EQ(a[0].c_oflag, a[parity].c_oflag);
      EXPECT_EQ(a[0].c_lflag, a[parity].c_lflag);
      EXPECT_EQ(0, memcmp(a[0].c_cc, a[parity].c_cc, sizeof a[0].c_cc));
    }
  }
}

// A pseudo-terminal (socat, a network serial client, kv32sim) holds 8 data
// bits without parity whatever it is asked, and keeps the last host's
// settings. Every open must work however often the same settings come back,
// with the speed and raw mode really applied.
TEST(SerialPort, PseudoTerminalOpensAgainWithAnySettings) {
  Pty t;
  struct { int bits, parity; long baud; speed_t speed; } runs[] = {
      {8, 2, 115200, B115200}, {8, 2, 115200, B115200}, {7, 1, 115200, B115200},
      {8, 0, 57600, B57600},   {8, 2, 57600, B57600},
  };
  for (auto& r : runs) {
    CSerialPortLinux p;
    configure(p, t.name(), r.baud, r.bits, r.parity, 1.0f);
    ASSERT_TRUE(p.openPort()) << r.bits << "/" << r.parity << " at " << r.baud;
    EXPECT_TRUE(CSerialPortLinux::isPseudoTerminal(p.fd));
    struct termios a = attrs(t);
    EXPECT_EQ(r.speed, cfgetospeed(&a));
    EXPECT_EQ(static_cast<tcflag_t>(CS8), a.c_cflag & (CSIZE | PARENB));
    EXPECT_FALSE(a.c_lflag & (ICANON | ECHO | ISIG));
    p.closePort();
  }
  const int null = open("/dev/null", O_RDWR);
  EXPECT_FALSE(CSerialPortLinux::isPseudoTerminal(null));
  close(null);
}

// One program per port: a second open of a port in use is refused before it
// touches the port's settings or queues, says why, and keeps no descriptor.
TEST(SerialPort, APortInUseIsRefused) {
  Pty t;
  CSerialPortLinux first;
  configure(first, t.name(), 115200, 8, 2, 1.0f);
  ASSERT_TRUE(first.openPort());
  t.send("kept");
  usleep(20000);
  CSerialPortLinux second;
  configure(second, t.slave, 57600, 8, 2, 1.0f);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(second.openPort());
  EXPECT_EQ("Open serial port failed(" + t.slave + "): the port is in use by another program\n",
            testing::internal::GetCapturedStderr());
  EXPECT_EQ(-1, second.fd);
  EXPECT_FALSE(second.isConnected);
  const struct termios held = attrs(t);
  EXPECT_EQ(B115200, cfgetospeed(&held)) << "the settings of the port in use changed";
  first.setTimeOut(200);
  unsigned char buf[4];
  EXPECT_EQ(4, first.receiveData(4, buf)) << "the queue of the port in use was flushed";
  first.closePort();
  EXPECT_TRUE(second.openPort()) << "the port stays taken after its close";
}

// Permission denied names the device's group, the usual cause (a user
// outside "dialout"). Needs root to give a terminal to a group and to drop
// to a user outside it.
TEST(SerialPort, PermissionDeniedNamesTheDevicesGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand the terminal to a group";
  Pty t;
  struct group* g = getgrnam("dialout");
  const gid_t gid = g ? g->gr_gid : 20;
  ASSERT_EQ(0, chown(t.slave.c_str(), 0, gid));
  ASSERT_EQ(0, chmod(t.slave.c_str(), 0660));
  struct group* named = getgrgid(gid);
  ASSERT_NE(nullptr, named);
  const std::string group = named->gr_name;
  int pipeFds[2];
  ASSERT_EQ(0, pipe(pipeFds));
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(pipeFds[1], STDERR_FILENO);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    CSerialPortLinux p;
    p.setPortSettings(3, t.slave, 115200, 8, 2, 1.0f);
    _exit(p.openPort() ? 1 : 0);
  }
  close(pipeFds[1]);
  std::string err;
  char buf[512];
  ssize_t n;
  while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) err.append(buf, size_t(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(0, WEXITSTATUS(status)) << err;
  EXPECT_EQ(0u, err.find("Open serial port failed(" + t.slave + "): Permission denied")) << err;
  EXPECT_NE(std::string::npos, err.find("group " + group)) << err;
}

// The device going away under an open port (the master of a pseudo-terminal
// closing is what a reader sees of a USB adapter pulled out): the waiting
// receive ends at once, nothing more is sent or waited for, and the state
// stays after the close until a new open.
TEST(SerialPort, AGoneLineFailsAtOnce) {
  Pty t;
  CSerialPortLinux p;
  configure(p, t.name(), 115200, 8, 2, 1.0f);
  ASSERT_TRUE(p.openPort());
  p.setTimeOut(5000);
  EXPECT_FALSE(p.lineGone());
  std::thread unplug([&] {
    usleep(100000);
    close(t.master);
    t.master = -1;
  });
  unsigned char buf[4];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, p.receiveData(4, buf));
  unplug.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "sat out the time-out";
  EXPECT_TRUE(p.lineGone());
  unsigned char msg[2] = {'a', 'b'};
  EXPECT_EQ(-1, p.sendData(2, msg));
  EXPECT_EQ(-1, p.receiveData(2, buf));
  p.closePort();
  EXPECT_TRUE(p.lineGone());

  Pty other;
  p.setPortSettings(3, other.name(), 115200, 8, 2, 1.0f);
  ASSERT_TRUE(p.openPort());
  EXPECT_FALSE(p.lineGone());
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

  // A path that names no terminal is refused before it is opened: opening
  // some files has effects of its own (a FIFO's writer goes on, a watchdog
  // starts).
  char dir[] = "/tmp/protocol_serial_XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  const std::string file = std::string(dir) + "/file", fifo = std::string(dir) + "/fifo";
  close(open(file.c_str(), O_CREAT | O_WRONLY, 0600));
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const struct {
    std::string path;
    const char* what;
  } notTerminals[] = {{file, "a regular file"}, {fifo, "a FIFO"}, {"/dev/null", "a device that is no terminal"},
                      {dir, "a folder"}};
  for (const auto& c : notTerminals) {
    SCOPED_TRACE(c.path);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, c.path.c_str(), IN_OPEN), 0);
    CSerialPortLinux other;
    configure(other, c.path, 115200, 8, 2, 1.0f);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(other.openPort());
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ("Open serial port failed(" + c.path + "): " + c.what + ", not a terminal device; it was not opened\n",
              err);
    EXPECT_FALSE(other.isConnected);
    EXPECT_EQ(-1, other.fd);
    char events[256];
    EXPECT_EQ(-1, read(watch, events, sizeof events)) << "the path was opened";
    close(watch);
  }
  unlink(file.c_str());
  unlink(fifo.c_str());
  rmdir(dir);
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

  // With an answer gap (the protocol libraries set one), an answer that has
  // begun and then stops is short once the gap has passed, long before the
  // time-out; the first byte is still waited for the whole time-out.
  p.setAnswerGap(100);
  t.send("x");
  auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(1, p.receiveData(3, buf));
  auto waited = std::chrono::steady_clock::now() - began;
  EXPECT_GE(waited, std::chrono::milliseconds(90));
  EXPECT_LT(waited, std::chrono::milliseconds(1500));
  p.setTimeOut(150);
  began = std::chrono::steady_clock::now();
  EXPECT_EQ(0, p.receiveData(1, buf));
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(140));
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
