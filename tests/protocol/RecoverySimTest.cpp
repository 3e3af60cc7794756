// The command layer's recovery against kv32sim on every link, from
// libKVBLLIB's objects (the line counters are internal): one fault of each
// kind at a few places of an erase + download + verify is ridden through
// with the chip equal to the image; a chip that stalls fails the command
// within a few time-outs and is handed to the reset handler; a fault-free
// transfer puts exactly the bytes on the wire it always did.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "KVBL.h"
#include "KVBLPorts.h"
#include "SimSession.h"

namespace {

constexpr DWORD kFlash = 0x08000000;

struct Link {
  const char* name;
  BYTE type;
  // Bytes a fault-free erase + download + verify (below) moves each way.
  unsigned long long sent, received;
  // A byte the chip sends that is a WRITE's acknowledge (OneFault).
  unsigned writeAck;
};

void PrintTo(const Link& l, std::ostream* os) { *os << l.name; }

::testing::AssertionResult Connect(SimSession& s, const Link& l, std::vector<std::string> extra = {},
                                   DWORD timeoutMs = 1000) {
  return ConnectAsTheProgram(s, l.name, l.type, extra, 17, 115200, timeoutMs);
}

// Bytes moved each way by the fault-free transfer of WireCount, measured
// before recovery existed, and the position of a WRITE acknowledge among the
// bytes the chip sends in OneFault.
const Link kLinks[] = {{"usart", KVBL_INTERFACE_USART, 10998, 10643, 86},
                       {"i2c", KVBL_INTERFACE_I2C, 14892, 13545, 481},
                       {"spi", KVBL_INTERFACE_SPI, 17486, 15302, 765},
                       {"can", KVBL_INTERFACE_CAN, 21991, 19074, 986}};

std::string NameOf(const ::testing::TestParamInfo<Link>& i) { return i.param.name; }

std::vector<BYTE> ReadFile(const std::string& path, size_t n) {
  std::vector<BYTE> b(n);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return {};
  b.resize(std::fread(b.data(), 1, n, f));
  std::fclose(f);
  return b;
}

class OneFault : public ::testing::TestWithParam<Link> {};

// Byte positions count the bytes the chip sends (about 60 go to the connect);
// commands and bridge frames their occurrences from the start.
TEST_P(OneFault, IsRiddenThroughWithTheChipEqualToTheImage) {
  const bool bridge = GetParam().type != KVBL_INTERFACE_USART;
  // The first run has no fault: every fault must cost bytes beyond it.
  const std::string ack = std::to_string(GetParam().writeAck);
  std::vector<std::string> faults = {"",           "drop:150",       "drop:2600",   "flip:" + ack + ":0x10",
                                     "drop:" + ack, "flip:2700:0x02", "nack:0x31:3", "nack:0x11:2",
                                     "nack:0x44:1"};
  if (bridge) faults.insert(faults.end(), {"busy:30", "status:60:0x42", "status:90:0xFE"});
  const auto image = Pattern(5000, 11);
  const auto sectors = SectorList(2, 3);
  const DWORD at = kFlash + 2 * 2048;
  unsigned long long clean = 0;
  for (const std::string& fault : faults) {
    SCOPED_TRACE(fault);
    const std::string dump = "/tmp/protocol_recovery_" + std::to_string(getpid()) + ".bin";
    {
      SimSession s;
      std::vector<std::string> options = {"--dump", dump};
      if (!fault.empty()) options.insert(options.end(), {"--fault", fault});
      const kvbl::LineCounters before = kvbl::Counters();
      ASSERT_TRUE(Connect(s, GetParam(), options, 500));
      EXPECT_EQ(SUCCESS, KVBL_ERASE(s.h, 3, const_cast<BYTE*>(sectors.data()), 2048));
      EXPECT_EQ(SUCCESS, KVBL_DNLOAD(s.h, at, const_cast<BYTE*>(image.data()), image.size(), 0));
      EXPECT_EQ(SUCCESS, KVBL_VERIFY(s.h, at, const_cast<BYTE*>(image.data()), image.size(), 0));
      const unsigned long long sent = kvbl::Counters().sent - before.sent;
      if (fault.empty()) clean = sent;
      else EXPECT_GT(sent, clean) << "the fault never struck";
    }  // the simulator writes its flash on exit
    const auto flash = ReadFile(dump, 2 * 2048 + image.size());
    std::remove(dump.c_str());
    ASSERT_EQ(2 * 2048 + image.size(), flash.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 2 * 2048));
  }
}

INSTANTIATE_TEST_SUITE_P(Links, OneFault, ::testing::ValuesIn(kLinks), NameOf);

// The program's reset handler, recorded.
struct Resets {
  int calls = 0;
  static BYTE Handler(HANDLE, void* context) {
    ++static_cast<Resets*>(context)->calls;
    return READ_FAIL;  // the chip stays silent after it, as a stalled kv32sim does
  }
};

class Stall : public ::testing::TestWithParam<Link> {};

// A chip that stops answering: the command fails with the code of its first
// failure within its time-out and a few short probes, the reset handler is
// asked once, and the failure report names the command and says why.
TEST_P(Stall, FailsCleanlyAndAsksForAReset) {
  SimSession s;
  ASSERT_TRUE(Connect(s, GetParam(), {"--fault", "stall:0x11"}, 1000));
  Resets resets;
  ASSERT_EQ(SUCCESS, KVBL_SetResetHandler(s.h, &Resets::Handler, &resets));
  BYTE b[8];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(SUCCESS, KVBL_READ(s.h, kFlash + 16, 8, b));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(1, resets.calls);
  BYTE cmd = 0, cause = 0, attempts = 0;
  DWORD address = 0;
  ASSERT_EQ(SUCCESS, KVBL_TakeLastFailure(s.h, &cmd, &address, &cause, &attempts));
  EXPECT_EQ(READ_CMD, cmd);
  EXPECT_EQ(kFlash + 16, address);
  EXPECT_EQ(KVBL_FAILURE_SILENT, cause);
  EXPECT_EQ(1, attempts);
  // Taken: the report is gone.
  ASSERT_EQ(SUCCESS, KVBL_TakeLastFailure(s.h, &cmd, &address, &cause, &attempts));
  EXPECT_EQ(KVBL_FAILURE_NONE, cause);
  ASSERT_EQ(SUCCESS, KVBL_SetResetHandler(s.h, nullptr, nullptr));
}

INSTANTIATE_TEST_SUITE_P(Links, Stall, ::testing::ValuesIn(kLinks), NameOf);

class NoisyLine : public ::testing::TestWithParam<Link> {};

// A line that fails most commands is not repeated into the ground: once the
// repeats outrun the commands that pass, a failure fails at once and says
// why; commands that pass pay the repeats back.
TEST_P(NoisyLine, StopsRepeatingUntilCommandsPassAgain) {
  std::vector<std::string> nacks;  // READ refused 46 times in a row
  for (int k = 1; k <= 46; ++k) nacks.insert(nacks.end(), {"--fault", "nack:0x11:" + std::to_string(k)});
  SimSession s;
  ASSERT_TRUE(Connect(s, GetParam(), nacks));
  struct Expect {
    BYTE result, cause, attempts;
  };
  std::vector<Expect> expected(11, {CMD_NOT_ALLOWED, KVBL_FAILURE_NACK, 4});  // 33 repeats
  expected.insert(expected.end(), 2, {CMD_NOT_ALLOWED, KVBL_FAILURE_NOISY, 1});
  expected.insert(expected.end(), 2, {SUCCESS, KVBL_FAILURE_NONE, 0});
  for (size_t i = 0; i < expected.size(); ++i) {
    BYTE b[8], cmd = 0, cause = 0, attempts = 0;
    DWORD address = 0;
    EXPECT_EQ(expected[i].result, KVBL_READ(s.h, kFlash, 8, b)) << "read " << i;
    ASSERT_EQ(SUCCESS, KVBL_TakeLastFailure(s.h, &cmd, &address, &cause, &attempts));
    EXPECT_EQ(expected[i].cause, cause) << "read " << i;
    EXPECT_EQ(expected[i].attempts, attempts) << "read " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Links, NoisyLine, ::testing::ValuesIn(kLinks), NameOf);

class WireCount : public ::testing::TestWithParam<Link> {};

// Recovery costs nothing on a clean line: not one byte more either way.
TEST_P(WireCount, FaultFreeDownloadMovesTodaysBytes) {
  SimSession s;
  ASSERT_TRUE(Connect(s, GetParam()));
  const auto image = Pattern(5 * 2048 - 5, 3);  // whole packets and an odd tail
  const auto sectors = SectorList(4, 5);
  const kvbl::LineCounters before = kvbl::Counters();
  ASSERT_EQ(SUCCESS, KVBL_ERASE(s.h, 5, const_cast<BYTE*>(sectors.data()), 2048));
  ASSERT_EQ(SUCCESS, KVBL_DNLOAD(s.h, kFlash + 4 * 2048, const_cast<BYTE*>(image.data()), image.size(), 0));
  ASSERT_EQ(SUCCESS, KVBL_VERIFY(s.h, kFlash + 4 * 2048, const_cast<BYTE*>(image.data()), image.size(), 0));
  const kvbl::LineCounters after = kvbl::Counters();
  EXPECT_EQ(GetParam().sent, after.sent - before.sent);
  EXPECT_EQ(GetParam().received, after.received - before.received);
}

INSTANTIATE_TEST_SUITE_P(Links, WireCount, ::testing::ValuesIn(kLinks), NameOf);

}  // namespace
