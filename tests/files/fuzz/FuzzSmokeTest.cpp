// Every fuzz entry over its seeds and a bounded number of deterministic
// mutations of them, so that every build runs them a little.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FuzzEntries.h"

namespace {

using Entry = int (*)(const uint8_t*, size_t);

void Mutate(std::string& s, uint32_t& seed) {
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  const std::string alphabet = "0123456789ABCDEFabcdefS:=[]\n\r x";
  switch (next() % 5) {
    case 0:
      if (!s.empty()) s[next() % s.size()] = char(next());
      break;
    case 1:
      if (!s.empty()) s[next() % s.size()] = alphabet[next() % alphabet.size()];
      break;
    case 2:
      if (!s.empty()) s.erase(next() % s.size(), 1 + next() % 8);
      break;
    case 3:
      s.insert(s.empty() ? 0 : next() % s.size(), 1, alphabet[next() % alphabet.size()]);
      break;
    default: {
      if (s.empty()) break;
      size_t from = next() % s.size(), len = 1 + next() % 40;
      s.insert(next() % s.size(), s.substr(from, len));
    }
  }
}

void Exercise(Entry entry, const std::vector<std::string>& seeds) {
  uint32_t seed = 12345;
  for (const std::string& s : seeds) {
    entry(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    for (int i = 0; i < 3000; ++i) {
      std::string m = s;
      for (int k = 0; k <= i % 4; ++k) Mutate(m, seed);
      entry(reinterpret_cast<const uint8_t*>(m.data()), m.size());
    }
  }
}

TEST(FuzzSmoke, IntelHex) {
  Exercise(FuzzIntelHex, {":020000040800F2\n:0400000001020304F2\n:020000021000EC\n:0100100007E8\n:00000001FF\n",
                     ":10000000000102030405060708090A0B0C0D0E0F78\n:00000001FF\n", ""});
}

TEST(FuzzSmoke, SRecord) {
  Exercise(FuzzSRecord, {"S00600004844521B\nS3090800000001020304E4\nS5030001FB\nS70500000000FA\n",
                    "S1070010010203FFE5\nS9030000FC\n", "S2080100000102030404\nS804000000FB\n"});
}

TEST(FuzzSmoke, DeviceMap) {
  Exercise(FuzzDeviceMap, {"[Product]\nName=X\nPacketSize=252\nSectorsPerSector=2\n[Sector0]\nAddress=0x08000000\n"
                      "Size=0x800\nCount=128\n[Sector1]\nSize=0x10000\nCount=3\n"});
}

}  // namespace
