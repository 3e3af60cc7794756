// The simulator end to end on each of its four links, driven by the test's
// own little host: identification, memory round trips, erase rules,
// protection with the reopen that follows it, persistence and faults.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <termios.h>
#include <unistd.h>

#include "SimProcess.h"
#include "TestHosts.h"

using namespace kvtest;

namespace {

constexpr uint32_t kFlash = 0x08000000;

struct Sim {
  SimProcess proc;
  TestLine line;
  std::unique_ptr<BootHost> host;
  std::string link;

  bool start(const std::string& l, std::vector<std::string> extra = {}) {
    link = l;
    std::vector<std::string> args{"--link", l, "--map", mapDir()};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!proc.start(args) || !line.open(proc.ptyPath())) return false;
    host = makeHost(l, line);
    return true;
  }
  // What the host does after a protection change or a reset.
  bool reconnect() { return line.reopen() && host->connect(); }
};

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

std::string tempPath(const char* name) {
  return std::string("/tmp/kv32sim_test_") + std::to_string(getpid()) + "_" + name;
}

class LinkTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.start(GetParam()));
    ASSERT_TRUE(sim.host->connect());
  }
  BootHost& host() { return *sim.host; }
  // On CAN the parameters travel with the command: there is no separate
  // acknowledge before them.
  Res laterRefusal() const { return GetParam() == "can" ? kRefusedFirst : kRefusedLater; }
  Sim sim;
};

TEST_P(LinkTest, IdentifiesAsTheCatalogueSays) {
  Bytes codes, id, ver;
  uint8_t version = 0;
  ASSERT_EQ(host().get(codes, version), kOk);
  EXPECT_EQ(version, 0x31);
  auto has = [&](uint8_t c) { return std::find(codes.begin(), codes.end(), c) != codes.end(); };
  EXPECT_TRUE(has(0x44));
  EXPECT_FALSE(has(0x43));  // the extended erase only
  EXPECT_EQ(has(0x03), GetParam() == "can");
  EXPECT_EQ(has(0xB3), GetParam() != "can");
  // PID 70040241, series 4: [bits 15-8][7-0][31-24][23-16][series].
  ASSERT_EQ(host().getId(id), kOk);
  EXPECT_EQ(id, (Bytes{0x02, 0x41, 0x70, 0x04, 0x04}));
  ASSERT_EQ(host().getVersion(ver), kOk);
  EXPECT_EQ(ver, (Bytes{0x31, 0x46, 0x02}));
  Bytes size, uid;
  ASSERT_EQ(host().read(0x1FFFF7E0, 2, size), kOk);
  EXPECT_EQ(size, (Bytes{0x00, 0x01}));  // 256 KB
  ASSERT_EQ(host().read(0x1FFFF7E8, 12, uid), kOk);
  EXPECT_EQ(uid.size(), 12u);
}

TEST_P(LinkTest, WritesReadsAndRefusesToWriteUnerasedFlash) {
  // 252 bytes: the largest packet, several bridge chunks.
  const Bytes data = pattern(252, 3);
  Bytes back;
  ASSERT_EQ(host().write(kFlash + 0x800, data), kOk);
  ASSERT_EQ(host().read(kFlash + 0x800, 252, back), kOk);
  EXPECT_EQ(back, data);
  // Writing the same bytes again is harmless; other bytes need an erase.
  EXPECT_EQ(host().write(kFlash + 0x800, Bytes(data.begin(), data.begin() + 8)), kOk);
  EXPECT_EQ(host().write(kFlash + 0x800, Bytes(8, 0x00)), kRefusedLater);
  ASSERT_EQ(host().read(kFlash + 0x800, 8, back), kOk);
  EXPECT_EQ(back, Bytes(data.begin(), data.begin() + 8)) << "a refused write changed the flash";
  ASSERT_EQ(host().erasePages({1}), kOk);
  ASSERT_EQ(host().read(kFlash + 0x800, 64, back), kOk);
  EXPECT_EQ(back, Bytes(64, 0xFF));
  EXPECT_EQ(host().write(kFlash + 0x800, Bytes(8, 0x00)), kOk);
}

TEST_P(LinkTest, EraseCodesAndBadRequests) {
  ASSERT_EQ(host().write(kFlash, pattern(16, 1)), kOk);
  ASSERT_EQ(host().write(kFlash + 0x3FFF0, pattern(16, 2)), kOk);
  EXPECT_EQ(host().eraseCode(0xFFFD), kRefusedLater);  // one bank only
  EXPECT_EQ(host().eraseCode(0xFFFC), kRefusedLater);  // no external bank yet
  ASSERT_EQ(host().eraseCode(0xFFFE), kOk);
  Bytes back;
  ASSERT_EQ(host().read(kFlash, 16, back), kOk);
  EXPECT_EQ(back, Bytes(16, 0xFF));
  ASSERT_EQ(host().read(kFlash + 0x3FFF0, 16, back), kOk);
  EXPECT_EQ(back, Bytes(16, 0xFF));
  // A page past the flash, reads and writes outside memory.
  EXPECT_EQ(host().erasePages({5, 128}), kRefusedLater);
  EXPECT_EQ(host().read(kFlash + 0x40000, 4, back), laterRefusal());
  EXPECT_EQ(host().write(0x1FFFF7E8, Bytes(4, 0)), kRefusedLater);  // the UID is read-only
}

TEST_P(LinkTest, AccessProtectionRefusesReadsUntilUnprotectErasesAll) {
  const Bytes data = pattern(32, 9);
  Bytes back;
  ASSERT_EQ(host().write(kFlash + 0x1000, data), kOk);
  ASSERT_EQ(host().twoAck(0x82), kOk);
  ASSERT_TRUE(sim.reconnect());
  EXPECT_EQ(host().read(kFlash + 0x1000, 32, back), kRefusedFirst);
  EXPECT_EQ(host().read(0x1FFFF7E0, 2, back), kRefusedFirst);  // how the host detects it
  EXPECT_EQ(host().write(kFlash, Bytes(4, 0)), kRefusedFirst);
  EXPECT_EQ(host().eraseCode(0xFFFE), kRefusedFirst);
  Bytes codes;
  uint8_t version;
  EXPECT_EQ(host().get(codes, version), kOk);
  ASSERT_EQ(host().twoAck(0x92), kOk);
  ASSERT_TRUE(sim.reconnect());
  ASSERT_EQ(host().read(kFlash + 0x1000, 32, back), kOk);
  EXPECT_EQ(back, Bytes(32, 0xFF)) << "unprotecting must not reveal the old contents";
}

TEST_P(LinkTest, EraseProgramProtectionGuardsItsSectors) {
  // Two sectors per bit: bit 1 covers sectors 2 and 3.
  ASSERT_EQ(host().protectBits({1}), kOk);
  ASSERT_TRUE(sim.reconnect());
  EXPECT_EQ(host().erasePages({2}), kRefusedLater);
  EXPECT_EQ(host().erasePages({0, 3}), kRefusedLater);
  EXPECT_EQ(host().write(kFlash + 3 * 0x800, Bytes(4, 0)), kRefusedLater);
  EXPECT_EQ(host().eraseCode(0xFFFE), kRefusedLater);
  EXPECT_EQ(host().write(kFlash + 4 * 0x800, Bytes(4, 0)), kOk);
  Bytes opt;
  ASSERT_EQ(host().read(0x1FFFF808, 2, opt), kOk);
  EXPECT_EQ(opt, (Bytes{0xFD, 0x02}));  // EPP0 with bit 1 cleared, and its complement
  ASSERT_EQ(host().twoAck(0x73), kOk);
  ASSERT_TRUE(sim.reconnect());
  EXPECT_EQ(host().erasePages({2, 3}), kOk);
}

TEST_P(LinkTest, FirmwareCrcOverSectorWords) {
  Bytes data = pattern(2048, 0x11);
  for (size_t i = 0; i < data.size(); i += 252)
    ASSERT_EQ(host().write(kFlash + 0x800 + static_cast<uint32_t>(i),
                           Bytes(data.begin() + i, data.begin() + std::min<size_t>(i + 252, data.size()))),
              kOk);
  // CRC-32, polynomial 04C11DB7, initial FFFFFFFF, no reflection and no
  // final XOR, fed with little-endian words most significant bit first.
  uint32_t want = 0xFFFFFFFF;
  for (size_t i = 0; i < data.size(); i += 4) {
    want ^= uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16 | uint32_t(data[i + 3]) << 24;
    for (int b = 0; b < 32; ++b) want = want & 0x80000000u ? (want << 1) ^ 0x04C11DB7u : want << 1;
  }
  uint32_t got = 0;
  ASSERT_EQ(host().crc(kFlash + 0x800, 1, got), kOk);
  EXPECT_EQ(got, want);
  EXPECT_EQ(host().crc(kFlash + 0x801, 1, got), laterRefusal());   // not a sector start
  EXPECT_EQ(host().crc(kFlash + 0x800, 128, got), laterRefusal());  // past the flash
}

TEST_P(LinkTest, OptionBytesTakeEffectWhenTheHostReconnects) {
  // FAP 0xFF with its complement: level 1 after the reset that follows.
  ASSERT_EQ(host().write(0x1FFFF800, {0xFF, 0x00}), kOk);
  Bytes back;
  EXPECT_EQ(host().read(0x1FFFF800, 2, back), kOk);
  EXPECT_EQ(back, (Bytes{0xFF, 0x00}));
  ASSERT_TRUE(sim.reconnect());
  EXPECT_EQ(host().read(kFlash, 4, back), kRefusedFirst);
}

TEST_P(LinkTest, ResetAndTheTerminalReopenedMidCommand) {
  // Half a WRITE, then the host closes the terminal: the chip drops it.
  const Bytes cmd = GetParam() == "can" ? Bytes{0xBF, 0x08, 0x31, 0x05, 0x08, 0x00}
                                        : GetParam() == "usart" ? Bytes{0x31, 0xCE, 0x08}
                                                                 : Bytes{0xBF};
  sim.line.send(cmd);
  ASSERT_TRUE(sim.reconnect());
  Bytes id;
  EXPECT_EQ(host().getId(id), kOk);
  ASSERT_EQ(host().twoAck(0xD4), kOk);  // RESET_MCU
  ASSERT_TRUE(sim.reconnect());
  EXPECT_EQ(host().getId(id), kOk);
}

TEST_P(LinkTest, NacksTheChosenCommandOccurrence) {
  ASSERT_TRUE(sim.start(GetParam(), {"--fault", "nack:0x11:2"}));
  ASSERT_TRUE(host().connect());
  Bytes b;
  EXPECT_EQ(host().read(kFlash, 4, b), kOk);
  EXPECT_EQ(host().read(kFlash, 4, b), kRefusedFirst);
  EXPECT_EQ(host().read(kFlash, 4, b), kOk);
}

// A real chip never sees the host close its port: a stall outlasts the
// host's reopening the terminal, and nothing answers any more.
TEST_P(LinkTest, StalledChipStaysStalledWhenTheHostReopens) {
  ASSERT_TRUE(sim.start(GetParam(), {"--fault", "stall:0x02", "--timeout-ms", "300"}));
  ASSERT_TRUE(host().connect());
  Bytes id;
  EXPECT_NE(host().getId(id), kOk);
  EXPECT_FALSE(sim.reconnect());
  EXPECT_NE(host().getId(id), kOk);
}

TEST_P(LinkTest, RandomGarbageLeavesTheChipServing) {
  ASSERT_TRUE(sim.start(GetParam(), {"--timeout-ms", "50", "--device", "KV32S09"}));
  uint32_t seed = 12345;
  for (int round = 0; round < 40; ++round) {
    Bytes junk(64);
    for (auto& b : junk) {
      seed = seed * 1103515245u + 12345u;
      b = static_cast<uint8_t>(seed >> 16);
    }
    // Now and then a frame start, so that the bridges parse something.
    junk[0] = round % 2 ? 0xBF : 0xB0;
    ASSERT_TRUE(sim.line.send(junk));
    sim.line.drain(5);
  }
  sim.line.drain(200);
  ASSERT_TRUE(sim.reconnect());
  Bytes id;
  EXPECT_EQ(host().getId(id), kOk);
  EXPECT_EQ(id, (Bytes{0x03, 0x41, 0x70, 0x09, 0x09}));
}

INSTANTIATE_TEST_SUITE_P(Links, LinkTest, ::testing::Values("usart", "i2c", "spi", "can"));

TEST(LinkPersistence, StateFileKeepsMemoryAndDumpHoldsTheFlash) {
  const std::string state = tempPath("state"), dump = tempPath("dump");
  std::remove(state.c_str());
  const Bytes data = pattern(64, 0x40);
  {
    Sim s;
    ASSERT_TRUE(s.start("usart", {"--state", state}));
    ASSERT_TRUE(s.host->connect());
    ASSERT_EQ(s.host->write(kFlash + 0x2000, data), kOk);
    ASSERT_EQ(s.host->protectBits({0}), kOk);
    s.proc.stop();
    ASSERT_TRUE(WIFEXITED(s.proc.exitStatus()) && WEXITSTATUS(s.proc.exitStatus()) == 0);
  }
  {
    Sim s;
    ASSERT_TRUE(s.start("i2c", {"--state", state, "--dump", dump}));
    ASSERT_TRUE(s.host->connect());
    Bytes back;
    ASSERT_EQ(s.host->read(kFlash + 0x2000, 64, back), kOk);
    EXPECT_EQ(back, data);
    EXPECT_EQ(s.host->erasePages({0}), kRefusedLater);  // the protection came along
    s.proc.stop();
  }
  std::ifstream f(dump, std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_EQ(all.size(), 256u * 1024u);
  EXPECT_EQ(Bytes(all.begin() + 0x2000, all.begin() + 0x2040), data);
  std::remove(state.c_str());
  std::remove(dump.c_str());
}

TEST(LinkPersistence, LoadedFlashAndTheLog) {
  const std::string image = tempPath("image"), log = tempPath("log");
  const Bytes data = pattern(40, 0x21);
  std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), 40);
  {
    Sim s;
    ASSERT_TRUE(s.start("usart", {"--load-flash", image, "--log", log, "--fault", "nack:0x11"}));
    ASSERT_TRUE(s.host->connect());
    Bytes back;
    EXPECT_EQ(s.host->read(kFlash, 40, back), kRefusedFirst);
    ASSERT_EQ(s.host->read(kFlash, 40, back), kOk);
    EXPECT_EQ(back, data);
  }
  std::ifstream f(log);
  const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("H>S 7F"), std::string::npos);
  EXPECT_NE(text.find("S>H 79"), std::string::npos);
  EXPECT_NE(text.find("FAULT nack command 11 occurrence 1"), std::string::npos);
  EXPECT_NE(text.find("READ 40 byte(s) at 08000000"), std::string::npos);
  std::remove(image.c_str());
  std::remove(log.c_str());
  // An image larger than the flash is refused at start.
  std::ofstream(image, std::ios::binary) << std::string(256 * 1024 + 1, 'x');
  SimProcess p;
  EXPECT_FALSE(p.start({"--link", "usart", "--load-flash", image}));
  std::remove(image.c_str());
}

TEST(LinkPersistence, CorruptStateFileStopsTheStart) {
  const std::string state = tempPath("bad");
  std::ofstream(state) << "KV32SIMSTATE 1\nFLSH\xff\xff\xff\x7f";
  SimProcess p;
  EXPECT_FALSE(p.start({"--link", "usart", "--state", state}));
  std::remove(state.c_str());
}

// Chips other than the default one, on the USART.
struct DeviceCase {
  const char* device;
  Bytes id;
  Bytes flashSize;
};

void PrintTo(const DeviceCase& c, std::ostream* os) { *os << c.device; }

class DeviceTest : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(DeviceTest, AnswersWithItsIdentity) {
  Sim s;
  ASSERT_TRUE(s.start("usart", {"--device", GetParam().device}));
  ASSERT_TRUE(s.host->connect());
  Bytes id, size;
  ASSERT_EQ(s.host->getId(id), kOk);
  EXPECT_EQ(id, GetParam().id);
  ASSERT_EQ(s.host->read(0x1FFFF7E0, 2, size), kOk);
  EXPECT_EQ(size, GetParam().flashSize);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, DeviceTest,
    ::testing::Values(DeviceCase{"KV32S01_128K", {0x01, 0xC1, 0x70, 0x01, 0x01}, {0x80, 0x00}},
                      DeviceCase{"70010101", {0x01, 0x01, 0x70, 0x01, 0x01}, {0x40, 0x00}},
                      DeviceCase{"KV32S13", {0x04, 0x01, 0x70, 0x0D, 0x0D}, {0x00, 0x10}},
                      DeviceCase{"KV32S31", {0x02, 0x41, 0x70, 0x1F, 0x1F}, {0x00, 0x01}},
                      // The peer device: a two-byte identifier, 512 KB.
                      DeviceCase{"PEER-0414", {0x04, 0x14}, {0x00, 0x02}}),
    [](const ::testing::TestParamInfo<DeviceCase>& i) {
      std::string name = i.param.device;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

TEST(LinkTerminal, KeepsTheHostsSettingsLikeABridgesTerminal) {
  // What a socat or RFC 2217 terminal does, and what the simulator must not
  // hide: the terminal holds 8 data bits without parity whatever is asked,
  // and keeps the host's settings after it closes. Asking for 8E1 again then
  // changes nothing, which the C library reports as invalid.
  SimProcess p;
  ASSERT_TRUE(p.start({"--link", "usart"}));
  for (int i = 0; i < 2; ++i) {
    const int fd = open(p.ptyPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    if (i == 1) {
      EXPECT_EQ(cfgetospeed(&t), B115200) << "the first open's speed stays";
    }
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    t.c_cflag |= PARENB | CLOCAL | CREAD;
    EXPECT_EQ(tcsetattr(fd, TCSANOW, &t), i == 0 ? 0 : -1) << "open " << i;
    termios back{};
    ASSERT_EQ(tcgetattr(fd, &back), 0);
    EXPECT_EQ(back.c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));
    close(fd);
    usleep(100000);  // the simulator notices the close
  }
}

TEST(LinkTerminal, ASecondSimulatorHoldsNothingOfTheFirst) {
  // The first simulator's terminal is open (inheritable) when the second one
  // starts; closing it must still be a close the first one sees.
  Sim a;
  ASSERT_TRUE(a.start("usart"));
  ASSERT_TRUE(a.host->connect());
  const int inheritable = open(a.proc.ptyPath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(inheritable, 0);
  Sim b;
  ASSERT_TRUE(b.start("i2c"));
  ASSERT_EQ(a.host->write(0x1FFFF800, {0xFF, 0x00}), kOk);  // protection at the next reset
  close(inheritable);
  // Seen closed, the chip reset to load its option bytes: it waits for the
  // start byte and ignores a command.
  ASSERT_TRUE(a.line.reopen(100));
  a.line.send({0x11, 0xEE});
  EXPECT_TRUE(a.line.recv(1, 300).empty());
  ASSERT_TRUE(a.host->connect());
  Bytes back;
  EXPECT_EQ(a.host->read(kFlash, 4, back), kRefusedFirst);
}

TEST(LinkProtection, LevelTwoIsForeverOnOneTimeModels) {
  Sim s;
  ASSERT_TRUE(s.start("usart", {"--device", "KV32S15"}));
  ASSERT_TRUE(s.host->connect());
  ASSERT_EQ(s.host->protectLevel(2), kOk);
  ASSERT_TRUE(s.reconnect());
  EXPECT_EQ(s.host->twoAck(0x92), kRefusedFirst);
  EXPECT_EQ(s.host->write(0x1FFFF800, {0xA5, 0x5A}), kRefusedFirst);
  Bytes id;
  EXPECT_EQ(s.host->getId(id), kOk);
}

TEST(LinkProtection, LevelTwoCanBeRemovedElsewhere) {
  Sim s;
  ASSERT_TRUE(s.start("spi", {"--device", "KV32S09", "--protect", "2"}));
  ASSERT_TRUE(s.host->connect());
  Bytes b;
  EXPECT_EQ(s.host->read(kFlash, 4, b), kRefusedFirst);
  ASSERT_EQ(s.host->twoAck(0x92), kOk);
  ASSERT_TRUE(s.reconnect());
  EXPECT_EQ(s.host->read(kFlash, 4, b), kOk);
  EXPECT_EQ(s.host->eraseCode(0xFFFD), kOk);  // two banks here
}

TEST(LinkOtp, DataIsOneTimeAndLockedBlocksStayShut) {
  Sim s;
  ASSERT_TRUE(s.start("usart", {"--device", "KV32S21"}));
  ASSERT_TRUE(s.host->connect());
  const uint32_t otp = 0x1FFFE400, lock = 0x1FFFF500;
  ASSERT_EQ(s.host->write(otp, pattern(32, 5)), kOk);
  EXPECT_EQ(s.host->write(otp, Bytes(32, 0x00)), kRefusedLater);
  ASSERT_EQ(s.host->write(lock, {0x00, 0xFF}), kOk);  // lock block 0 only
  EXPECT_EQ(s.host->write(otp, pattern(32, 5)), kRefusedLater);
  EXPECT_EQ(s.host->write(otp + 32, pattern(32, 6)), kOk);
  EXPECT_EQ(s.host->eraseCode(0xFFFE), kOk);
  Bytes back;
  ASSERT_EQ(s.host->read(otp, 32, back), kOk);
  EXPECT_EQ(back, pattern(32, 5)) << "erasing flash must not touch OTP";
}

TEST(LinkFaults, ByteFaultsOnTheWayToTheHost) {
  struct Case { const char* fault; Bytes expect; };
  const Case cases[] = {
      {"drop:1", {}},             // the start byte's ACK is lost
      {"flip:1:0x06", {0x7F}},    // 0x79 ^ 0x06
      {"random:7:1.0", {}},       // every byte dropped or flipped
  };
  for (const auto& c : cases) {
    Sim s;
    ASSERT_TRUE(s.start("usart", {"--fault", c.fault}));
    s.line.send({0x7F});
    Bytes got = s.line.recv(1, 300);
    if (std::string(c.fault).rfind("random", 0) == 0)
      EXPECT_TRUE(got.empty() || got[0] != 0x79) << c.fault;
    else
      EXPECT_EQ(got, c.expect) << c.fault;
    // The chip itself has started: a second start byte is refused.
    if (std::string(c.fault) == "drop:1") {
      s.line.send({0x7F});
      EXPECT_EQ(s.line.recv(1), Bytes{0x1F});
    }
  }
}

TEST(LinkFaults, MalformedFaultIsRefused) {
  for (const char* bad : {"drop:0", "flip:1:0", "nack:0x100", "status:1:0xF1", "random:1:2", "unplug:0", "bogus:1"}) {
    SimProcess p;
    EXPECT_FALSE(p.start({"--link", "usart", "--fault", bad})) << bad;
  }
}

}  // namespace
