// Byte-exact tests of the SPI bridge: frames, bridge start, the polled
// acknowledge handshake and its time limits, over a recording fake line.
#include <chrono>
#include <cstring>
#include <functional>

#include "BridgeScript.h"

namespace {

using Frames = std::vector<Bytes>;

class SpiBridge : public SpiFixture {
 protected:
  // Replays `answers` and runs `action`; the frames stay in serial.sent.
  int run(const Bytes& answers, const std::function<int()>& action) {
    script({answers});
    return action();
  }
  size_t polls() const {
    size_t n = 0;
    for (const Bytes& f : serial.sent)
      if (f == spi::ReadRequest(1)) ++n;
    return n;
  }
};

TEST_F(SpiBridge, EachFrameKindUsesItsSubCommand) {
  const Bytes d61 = Counting(61), d64 = Counting(64);
  BYTE out[64], block[64], one;
  struct Case {
    const char* name;
    Bytes answers;
    std::function<int()> action;
    Frames frames;
  } cases[] = {
      {"multi-frame write", Cat({spi::Ok(), spi::Ok(), spi::Ok(), spi::Ok()}),
       [&] { return kvspi::SPI_Write_Data(h, 61, const_cast<BYTE*>(d61.data())); },
       {{0xBF, 0x0C, 0x00, 61},
        Cat({{0xBF, 0x0D, 0x00, 60}, Bytes(d61.begin(), d61.begin() + 60)}),
        {0xBF, 0x0D, 0x00, 0x01, 61},
        {0xBF, 0x0E}}},
      {"multi-frame read",
       Cat({spi::Ok(), spi::ReadAnswer(Bytes(d64.begin(), d64.begin() + 60), 0x11),
            spi::ReadAnswer(Bytes(d64.begin() + 60, d64.end()), 0x11)}),
       [&] { return kvspi::SPI_Read_Data(h, 64, out, 0); },
       {{0xBF, 0x10, 0x00, 0x40}, {0xBF, 0x11, 0x00, 60}, {0xBF, 0x11, 0x00, 0x04}}},
      {"variable read", Bytes{0xBF, 0x13, 0x02, 9, 9}, [&] { return kvspi::SPI_Read_Data(h, 64, block, 1); },
       {{0xBF, 0x13}}},
      {"write then read", spi::WriteReadAnswer(0x42),
       [&] { return kvspi::SPI_Write_and_read_Data(h, 1, Bytes{0x33}.data(), 1, &one); },
       {{0xBF, 0x14, 0x00, 0x01, 0x33}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SUCCESS, run(c.answers, c.action)) << c.name;
    EXPECT_EQ(c.frames, serial.sent) << c.name;
    EXPECT_TRUE(serial.answers.empty()) << c.name;
  }
  EXPECT_EQ(0, std::memcmp(out, d64.data(), 64));
}

TEST_F(SpiBridge, BadAnswersGiveResultCodesNeverData) {
  BYTE out[64];
  auto write2 = [&] { return kvspi::SPI_Write_Data(h, 2, Bytes{1, 2}.data()); };
  auto read2 = [&] { return kvspi::SPI_Read_Data(h, 2, out, 0); };
  auto variable = [&] { return kvspi::SPI_Read_Data(h, 64, out, 1); };
  auto exchange = [&] { return kvspi::SPI_Write_and_read_Data(h, 1, Bytes{0x5A}.data(), 1, out); };
  struct Case {
    const char* name;
    Bytes answers;
    std::function<int()> action;
    int expect;
  } cases[] = {
      // A busy bridge did nothing: the frame is sent again, 3 more times.
      {"busy", Cat({spi::Status(0xFD), spi::Status(0xFD), spi::Status(0xFD), spi::Status(0xFD)}), write2,
       SPI_DEVICE_BUSY},
      {"other status", spi::Status(0x42), write2, SPI_CMD_EXEC_ERROR},
      // "Done" in an answer that is not a data-frame answer is not success.
      {"wrong frame kind", Bytes{0x00, 0xF1}, write2, SPI_CMD_EXEC_ERROR},
      {"no status", Bytes{0xBF}, write2, READ_FAIL},
      {"short read", Bytes{0xBF, 0x12, 0x00, 0x00, 0x01}, read2, READ_FAIL},
      {"done instead of data", Cat({spi::Status(0xF1), {0, 0, 0, 0}}), read2, SPI_CMD_EXEC_ERROR},
      {"block longer than the buffer", Cat({{0xBF, 0x13, 65}, Bytes(65, 0xEE)}), variable, READ_FAIL},
      {"exchange without its byte", Bytes{0xBF, 0x14, 0x00, 0x00}, exchange, READ_FAIL},
  };
  for (const Case& c : cases) {
    std::memset(out, 0xCC, sizeof(out));
    EXPECT_EQ(c.expect, run(c.answers, c.action)) << c.name;
    EXPECT_TRUE(serial.answers.empty()) << c.name << ": answer left on the line";
    EXPECT_EQ(0xCC, out[0]) << c.name << ": data reported from a failed answer";
  }
  serial.shortWriteAt = 0;
  EXPECT_EQ(SEND_FAIL, run(spi::Ok(), write2));
}

TEST_F(SpiBridge, BridgeStartSendsConfigurationThenSyncThenHandshake) {
  const Frames config = {{0xB0, 0x2B, 0x05, 0x01, 0x00, 0x0F, 0x42, 0x40}};
  const Frames sync = {{0xBF, 0x14, 0x00, 0x01, 0x5A}};
  struct Case {
    const char* name;
    Bytes answers;
    int expect;
    Frames frames;
  } cases[] = {
      {"chip answers", Cat({{0xB0, 0xF1}, spi::WriteReadAnswer(0xA5), spi::AckAnswers()}), SUCCESS,
       [&] { Frames f = config; f.insert(f.end(), sync.begin(), sync.end());
             Frames a = spi::AckFrames(); f.insert(f.end(), a.begin(), a.end()); return f; }()},
      // A wrong answer is a glitch: the start is made again, and the line
      // is silent then.
      {"sync not answered A5", Cat({{0xB0, 0xF1}, spi::WriteReadAnswer(0x00)}), UNREOGNIZED_DEVICE,
       [&] { Frames f = config; f.insert(f.end(), sync.begin(), sync.end()); f.push_back(config[0]); return f; }()},
      {"bridge refuses", Bytes{0xB0, 0xFF}, UNREOGNIZED_DEVICE, {config[0], config[0]}},
      {"bridge silent", Bytes{}, READ_FAIL, config},
      {"chip refuses the handshake",
       Cat({{0xB0, 0xF1}, spi::WriteReadAnswer(0xA5), spi::AckAnswers(0x1F)}), UNREOGNIZED_DEVICE, {}},
  };
  for (const Case& c : cases) {
    RecordedSleeps().clear();
    EXPECT_EQ(c.expect, run(c.answers, [&] { return KVBL_Init_BL(h, 0, 1000000, 0); })) << c.name;
    if (!c.frames.empty()) {
      EXPECT_EQ(c.frames, serial.sent) << c.name;
    }
  }
  // The full start waits 10 ms before the sync and 600 ms after it.
  RecordedSleeps().clear();
  run(cases[0].answers, [&] { return KVBL_Init_BL(h, 0, 1000000, 0); });
  EXPECT_EQ((std::vector<unsigned>{10, 600}), RecordedSleeps());
  EXPECT_EQ(CMD_NOT_ALLOWED, KVBL_SetSpeed(h, 5));
}

TEST_F(SpiBridge, HandshakeOutcomes) {
  struct Case {
    const char* name;
    Bytes answers;
    int expect;
    size_t polls;
  } cases[] = {
      {"ACK at once", spi::AckAnswers(), SUCCESS, 1},
      {"ACK after three idle polls", spi::AckAnswers(0x79, 3), SUCCESS, 4},
      // A NACK ends the poll at once.
      {"NACK", spi::AckAnswers(0x1F, 0), CMD_FAIL, 1},
      {"ACK then 0x00 instead of 0x86", spi::AckAnswers(0x79, 0, 0x00), CMD_FAIL, 1},
      {"bridge busy while polling",
       Cat({spi::Ok(), spi::Status(0xFD), {0, 0, 0}, spi::Status(0xFD), {0, 0, 0}, spi::Status(0xFD), {0, 0, 0},
            spi::Status(0xFD), {0, 0, 0}}),
       SPI_DEVICE_BUSY, 4},
      {"bridge gone while polling", spi::Ok(), READ_FAIL, 1},
      {"bridge refuses the zero byte", spi::Status(0xFE), SPI_INVALID_DATA_PARAM, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expect, run(c.answers, [&] { return kvspi::SPI_GetACKOrNACK(h, 0); })) << c.name;
    EXPECT_EQ(c.polls, polls()) << c.name;
    EXPECT_EQ(Bytes({0xBF, 0x0F, 0x00, 0x01, 0x00}), serial.sent.front()) << c.name;
  }
}

TEST_F(SpiBridge, HandshakeTimeLimitIsExtendedOnlyWhenAskedAndTheLibraryIsOn) {
  useFakeClock();
  const Bytes idle = Cat({spi::Ok(), idlePolls(3100)});
  struct Case {
    BOOL extended, slib;
    unsigned limitMs;
  } cases[] = {{0, 0, 1800}, {1, 0, 1800}, {0, 1, 1800}, {1, 1, 300000}};
  for (const Case& c : cases) {
    g_bEnableSlib = c.slib;
    const uint64_t before = now();
    EXPECT_EQ(CMD_FAIL, run(idle, [&] { return kvspi::SPI_GetACKOrNACK(h, c.extended); }));
    const uint64_t waited = now() - before;
    EXPECT_GT(waited, c.limitMs) << c.limitMs;
    EXPECT_LE(waited, c.limitMs + 300) << c.limitMs;
    EXPECT_EQ(spi::ReadRequest(1), serial.sent.back()) << "no handshake after a time-out";
  }
}

// A bridge whose chip never answers: every poll gets an idle byte.
class IdleChip : public FakeSerial {
 public:
  int receiveData(unsigned long lg, unsigned char* data) override {
    if (!answers.empty()) return FakeSerial::receiveData(lg, data);
    const Bytes idle = spi::ReadAnswer({0x00});
    const unsigned long n = lg < idle.size() ? lg : idle.size();
    std::copy(idle.begin(), idle.begin() + static_cast<long>(n), data);
    return static_cast<int>(n);
  }
};

TEST_F(SpiBridge, SilentChipFailsAfterTheLimitOnTheRealClock) {
  IdleChip chip;
  chip.openPort();
  kvbl::ReplaceLine(kPort, &chip);
  chip.answer(spi::Ok());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CMD_FAIL, kvspi::SPI_GetACKOrNACK(h, 1));  // extended, but the library is off
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 1800);
  EXPECT_LT(ms, 60000);
  kvbl::ReplaceLine(kPort, &serial);
}

}  // namespace
