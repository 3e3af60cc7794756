// A port bound to a recording fake, opened and ready for commands.
#ifndef PROTOCOL_FIXTURE_H
#define PROTOCOL_FIXTURE_H

#include <gtest/gtest.h>

#include <vector>

#include "FakeLine.h"
#include "KVBL.h"
#include "KVBLPorts.h"

inline std::vector<unsigned>& RecordedSleeps() {
  static std::vector<unsigned> s;
  return s;
}

class PortFixture : public ::testing::Test {
 protected:
  static constexpr int kPort = 7;

  void openWith(const kvbl::Flavour* f) {
    RecordedSleeps().clear();
    kvbl::SetSleepFunction([](unsigned ms) { RecordedSleeps().push_back(ms); });
    kvbl::ReplaceLine(kPort, &serial);
    kvbl::BindFlavour(kPort, nullptr);
    SelectFlavourForTests(f);
    char name[] = "fake";
    ASSERT_EQ(SUCCESS, SetCOMSettings(&h, kPort, name, 115200, 8, 2, 1.0f));
    ASSERT_EQ(SUCCESS, Interface_Open(h));
    serial.setTimeOut(50);
  }

  void TearDown() override {
    if (Interface_is_Open(h)) Interface_Close(h);
    kvbl::ReplaceLine(kPort, nullptr);
    kvbl::BindFlavour(kPort, nullptr);
    kvbl::SetSleepFunction(nullptr);
    SelectFlavourForTests(nullptr);
    FakeFlavourState::current = nullptr;
  }

  TARGET_DESCRIPTOR& desc() { return *kvbl::Descriptor(kPort); }

  HANDLE h = nullptr;
  FakeSerial serial;
};

// Command-layer fixture: the fake transport at the bootloader level.
class CommandFixture : public PortFixture {
 protected:
  void SetUp() override {
    FakeFlavourState::current = &st;
    openWith(&FakeFlavour());
  }
  // Scripted answers, one per read call.
  void reads(std::initializer_list<Bytes> rs) { reads(std::vector<Bytes>(rs)); }
  void reads(const std::vector<Bytes>& rs) {
    for (const Bytes& b : rs) st.reads.push_back(b);
  }
  void allow(BOOL TARGET_DESCRIPTOR::*flag) { desc().*flag = 1; }

  FakeFlavourState st;
};

inline const Bytes kAck = {0x79};
inline const Bytes kNack = {0x1F};

#endif  // PROTOCOL_FIXTURE_H
