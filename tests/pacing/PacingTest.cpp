// On a paced line the simulator takes bytes as they come and answers once the
// bytes an answer follows have arrived: no exchange may end sooner than its
// bytes take on a real line (11 bit times each, both directions, the line
// being half duplex), and a chip that programs or erases adds its time after
// the bytes that started the work. Only lower bounds are checked: how much
// longer a run takes depends on the machine.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "KVBL.h"
#include "KVBLPorts.h"
#include "SimProcess.h"

namespace {

constexpr long kBaud = 19200;
constexpr unsigned kWriteUsPerByte = 400;
constexpr unsigned kEraseMsPerSector = 2;
constexpr unsigned kSectors = 128;  // the default chip: 256 KB in 2 KB sectors

struct LinkCase {
  const char* name;
  BYTE type;
  // The host waits while the chip works; on SPI it polls meanwhile, so its
  // polling bytes and the chip's work overlap.
  bool hostWaitsWhileBusy;
};

const LinkCase kLinks[] = {{"usart", KVBL_INTERFACE_USART, true},
                           {"i2c", KVBL_INTERFACE_I2C, true},
                           {"spi", KVBL_INTERFACE_SPI, false},
                           {"can", KVBL_INTERFACE_CAN, true}};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

struct Timed {
  BYTE result;
  double seconds;
  double lineSeconds;  // the exchange's bytes at kBaud
};

Timed timed(const std::function<BYTE()>& call) {
  const kvbl::LineCounters before = kvbl::Counters();
  const auto t0 = std::chrono::steady_clock::now();
  const BYTE r = call();
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const kvbl::LineCounters after = kvbl::Counters();
  const double bytes = double(after.sent - before.sent) + double(after.received - before.received);
  return {r, s, bytes * 11.0 / kBaud};
}

class PacedLine : public ::testing::TestWithParam<LinkCase> {
 protected:
  void SetUp() override {
    Connect({"--baud", std::to_string(kBaud), "--write-us-per-byte", std::to_string(kWriteUsPerByte),
             "--erase-ms", std::to_string(kEraseMsPerSector)});
  }
  // Starts the simulator with these options and connects to it.
  void Connect(const std::vector<std::string>& simOptions) {
    const LinkCase& c = GetParam();
    std::vector<std::string> args = {"--link", c.name, "--map", kvtest::mapDir()};
    args.insert(args.end(), simOptions.begin(), simOptions.end());
    ASSERT_TRUE(m_sim.start(args));
    ASSERT_EQ(SUCCESS, TARGET_SetComIntType(c.type));
    std::string port = m_sim.portName();
    ASSERT_EQ(SUCCESS, SetCOMSettings(&m_h, 1, &port[0], kBaud, 8, 2, 1.0f));
    ASSERT_EQ(SUCCESS, Interface_Open(m_h));
    SetTimeOut(m_h, 5000);
    const std::string link = c.name;
    BYTE r = SUCCESS;
    if (link == "i2c") r = KVBL_Init_BL(m_h, 0x3C, 400000, 0);
    else if (link == "spi") r = KVBL_Init_BL(m_h, 0, 1000000, 0);
    else if (link == "can") {
      r = KVBL_Init_BL(m_h, 0, 2, 0);
      if (r == SUCCESS) r = KVBL_SetSpeed(m_h, 2);
    } else {
      r = KVBL_Init_BL(m_h, 0, 0, 0);
    }
    ASSERT_EQ(SUCCESS, r);
    BYTE version = 0;
    Commands cmds{};
    ASSERT_EQ(SUCCESS, KVBL_GET(m_h, &version, &cmds));
  }
  void TearDown() override {
    if (m_h) Interface_Close(m_h);
  }

  kvtest::SimProcess m_sim;
  HANDLE m_h = nullptr;
};

TEST_P(PacedLine, NoExchangeEndsBeforeItsBytesAndTheChipsWork) {
  const bool waits = GetParam().hostWaitsWhileBusy;

  const Timed erase = timed([&] { return KVBL_ERASE(m_h, 0xFFFF, nullptr, 0); });
  ASSERT_EQ(SUCCESS, erase.result);
  const double eraseWork = kSectors * kEraseMsPerSector / 1000.0;
  EXPECT_GE(erase.seconds, erase.lineSeconds);
  EXPECT_GE(erase.seconds, waits ? erase.lineSeconds + eraseWork : eraseWork);

  std::vector<BYTE> data(252);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 13 + 1);
  const Timed write = timed([&] { return KVBL_WRITE(m_h, 0x08000000, 252, data.data()); });
  ASSERT_EQ(SUCCESS, write.result);
  const double writeWork = 252 * kWriteUsPerByte / 1e6;
  EXPECT_GE(write.seconds, write.lineSeconds);
  EXPECT_GE(write.seconds, waits ? write.lineSeconds + writeWork : writeWork);

  // The answer of a read is the longest stretch of the chip's own bytes.
  std::vector<BYTE> back(252, 0);
  const Timed read = timed([&] { return KVBL_READ(m_h, 0x08000000, 252, back.data()); });
  ASSERT_EQ(SUCCESS, read.result);
  EXPECT_EQ(data, back);
  EXPECT_GE(read.seconds, read.lineSeconds);
}

INSTANTIATE_TEST_SUITE_P(Links, PacedLine, ::testing::ValuesIn(kLinks),
                         [](const ::testing::TestParamInfo<LinkCase>& i) { return std::string(i.param.name); });

// A USB adapter's latency timer holds every answer until it runs out after
// the host's last byte: no exchange ends sooner than that.
constexpr unsigned kLatencyMs = 30;

class LatencyTimer : public PacedLine {
 protected:
  void SetUp() override { Connect({"--latency", std::to_string(kLatencyMs)}); }
};

TEST_P(LatencyTimer, HoldsEveryAnswer) {
  std::vector<BYTE> data(252, 0x5A);
  std::vector<BYTE> back(252, 0);
  const Timed read = timed([&] { return KVBL_READ(m_h, 0x08000000, 252, back.data()); });
  const kvbl::LineCounters before = kvbl::Counters();
  const Timed write = timed([&] { return KVBL_WRITE(m_h, 0x08000000, 252, data.data()); });
  const double writeSends = double(kvbl::Counters().sends - before.sends);
  ASSERT_EQ(SUCCESS, read.result);
  ASSERT_EQ(SUCCESS, write.result);
  // READ and WRITE each wait for at least three answers (command, address,
  // count or data); a bridge's exchanges each wait for their own.
  EXPECT_GE(read.seconds, 3 * kLatencyMs / 1000.0);
  EXPECT_GE(write.seconds, 3 * kLatencyMs / 1000.0);
  EXPECT_GE(write.seconds, (writeSends - 1) * kLatencyMs / 1000.0) << writeSends << " sends";
}

// The timer sits on the simulator's line, the same for every link: the UART
// and one bridge show it.
INSTANTIATE_TEST_SUITE_P(Links, LatencyTimer, ::testing::Values(kLinks[0], kLinks[1]),
                         [](const ::testing::TestParamInfo<LinkCase>& i) { return std::string(i.param.name); });

}  // namespace
