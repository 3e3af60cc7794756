// Answers and frames of the SPI and CAN bridges for the recording fake line.
#ifndef SPICAN_BRIDGESCRIPT_H
#define SPICAN_BRIDGESCRIPT_H

#include <initializer_list>
#include <vector>

#include "FakeLine.h"
#include "ProtocolFixture.h"
#include "SPIBridge.h"

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Counting(unsigned n, BYTE first = 1) {
  Bytes b(n);
  for (unsigned i = 0; i < n; ++i) b[i] = static_cast<BYTE>(first + i);
  return b;
}

// The frames the host sends, flattened (a frame boundary is not part of
// what a bridge sees).
inline Bytes Flat(const std::vector<Bytes>& frames) {
  Bytes out;
  for (const Bytes& f : frames) out.insert(out.end(), f.begin(), f.end());
  return out;
}

namespace spi {
inline Bytes Ok() { return {0xBF, 0xF1}; }
inline Bytes Status(BYTE s) { return {0xBF, s}; }
inline Bytes ReadAnswer(const Bytes& d, BYTE sub = 0x12) { return Cat({{0xBF, sub, 0x00, 0x00}, d}); }
inline Bytes WriteReadAnswer(BYTE b) { return {0xBF, 0x14, 0x00, 0x00, b}; }
// A chip that acknowledges after `busyPolls` idle polls, then answers the
// host's ACK with `handshake`.
inline Bytes AckAnswers(BYTE polled = 0x79, unsigned busyPolls = 0, BYTE handshake = 0x86) {
  Bytes b = Ok();
  for (unsigned i = 0; i < busyPolls; ++i) b = Cat({b, ReadAnswer({0x00})});
  return Cat({b, ReadAnswer({polled}), WriteReadAnswer(handshake)});
}
// What the host sends for one handshake with `polls` single reads.
inline std::vector<Bytes> AckFrames(unsigned polls = 1) {
  std::vector<Bytes> f = {{0xBF, 0x0F, 0x00, 0x01, 0x00}};
  for (unsigned i = 0; i < polls; ++i) f.push_back({0xBF, 0x12, 0x00, 0x01});
  f.push_back({0xBF, 0x14, 0x00, 0x01, 0x79});
  return f;
}
inline Bytes Write(const Bytes& d) {
  return Cat({{0xBF, 0x0F, 0x00, static_cast<BYTE>(d.size())}, d});
}
inline Bytes ReadRequest(BYTE n) { return {0xBF, 0x12, 0x00, n}; }
}  // namespace spi

namespace can {
inline Bytes Ok() { return {0xBF, 0xF1}; }
inline Bytes ReadAnswer(const Bytes& d) { return Cat({{0xBF, 0x09, 0x00, 0x00}, d}); }
inline Bytes Ack() { return ReadAnswer({0x79}); }
inline Bytes Write(BYTE cmd, const Bytes& d) {
  return Cat({{0xBF, 0x08, cmd, static_cast<BYTE>(d.size())}, d});
}
inline Bytes ReadRequest(BYTE cmd, BYTE n) { return {0xBF, 0x09, cmd, n}; }
}  // namespace can

// A port bound to one transport over the recording serial line.
class BridgeFixture : public PortFixture {
 protected:
  void allow(BOOL TARGET_DESCRIPTOR::*flag) { desc().*flag = 1; }
  // Forgets what was sent and slept, and queues the answers.
  void script(std::initializer_list<Bytes> parts) {
    serial.sent.clear();
    serial.answers.clear();
    RecordedSleeps().clear();
    serial.answer(Cat(parts));
  }
};

// The SPI transport, with the security library off and a clock that moves
// 100 ms per reading once useFakeClock() is called.
class SpiFixture : public BridgeFixture {
 protected:
  void SetUp() override {
    openWith(&kvspi::kFlavour);
    g_bEnableSlib = 0;
  }
  void TearDown() override {
    kvspi::SetClockForTests(nullptr);
    g_bEnableSlib = 0;
    PortFixture::TearDown();
  }
  static uint64_t& now() {
    static uint64_t t = 0;
    return t;
  }
  void useFakeClock() {
    now() = 0;
    kvspi::SetClockForTests([] { return now() += 100; });
  }
  // Answers of a chip that never acknowledges, for `polls` polls.
  static Bytes idlePolls(unsigned polls) {
    Bytes b;
    for (unsigned i = 0; i < polls; ++i) b = Cat({b, spi::ReadAnswer({0x00})});
    return b;
  }
};

#endif  // SPICAN_BRIDGESCRIPT_H
