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

// A small ELF file: the header, one loadable segment of 8 bytes at
// 0x08000000 and, in the 32-bit form, one allocated section over the same
// bytes (alone when there are no program headers).
std::string TinyElf(bool wide, bool bigEndian, bool noProgramHeaders = false) {
  std::string f(wide ? 64 : 52, '\0');
  auto put = [&](size_t at, uint64_t v, unsigned width) {
    if (f.size() < at + width) f.resize(at + width, '\0');
    for (unsigned k = 0; k < width; ++k) f[at + (bigEndian ? width - 1 - k : k)] = char(v >> (8 * k));
  };
  f[0] = 0x7F, f[1] = 'E', f[2] = 'L', f[3] = 'F', f[4] = wide ? 2 : 1, f[5] = bigEndian ? 2 : 1, f[6] = 1;
  const unsigned word = wide ? 8 : 4;
  const size_t ph = f.size(), phsize = wide ? 56 : 32, data = ph + phsize, sh = data + 8;
  put(16, 2, 2);                      // executable
  put(wide ? 32 : 28, ph, word);      // program headers
  put(wide ? 40 : 32, wide ? 0 : sh, word);
  put(wide ? 54 : 42, phsize, 2);
  put(wide ? 56 : 44, noProgramHeaders ? 0 : 1, 2);
  put(wide ? 58 : 46, wide ? 64 : 40, 2);
  put(wide ? 60 : 48, wide ? 0 : 2, 2);
  put(ph, 1, 4);                                      // PT_LOAD
  put(ph + (wide ? 8 : 4), data, word);               // offset
  put(ph + (wide ? 24 : 12), 0x08000000, word);       // physical address
  put(ph + (wide ? 32 : 16), 8, word);                // file size
  for (int k = 0; k < 8; ++k) f.push_back(char(k + 1));
  if (!wide) {
    f.resize(sh + 40, '\0');  // section 0, then one allocated section
    put(sh + 40 + 4, 1, 4);
    put(sh + 40 + 8, 2, 4);
    put(sh + 40 + 12, 0x08000000, 4);
    put(sh + 40 + 16, data, 4);
    put(sh + 40 + 20, 8, 4);
  }
  return f;
}

TEST(FuzzSmoke, Elf) {
  Exercise(FuzzElf, {TinyElf(false, false), TinyElf(true, false), TinyElf(false, true), TinyElf(false, false, true)});
}

TEST(FuzzSmoke, DeviceMap) {
  Exercise(FuzzDeviceMap, {"[Product]\nName=X\nPacketSize=252\nSectorsPerSector=2\n[Sector0]\nAddress=0x08000000\n"
                      "Size=0x800\nCount=128\n[Sector1]\nSize=0x10000\nCount=3\n"});
}

}  // namespace
