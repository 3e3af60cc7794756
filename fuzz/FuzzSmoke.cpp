#include "FuzzSmoke.h"

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <sstream>

std::vector<std::string> Seeds(const std::string& name) {
  const std::string folder = std::string(KVFUZZ_CORPUS) + "/" + name;
  std::vector<std::string> names, seeds;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    std::ifstream in(folder + "/" + n, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    seeds.push_back(s.str());
  }
  return seeds;
}

namespace {

uint32_t Next(uint32_t& seed) {
  seed = seed * 1664525u + 1013904223u;
  return seed >> 8;
}

// Byte flips, interesting values, cuts, repeats and splices: enough to walk
// off the seeds' paths without a coverage-guided engine.
void Mutate(std::string& s, uint32_t& seed) {
  static const unsigned char kInteresting[] = {0x00, 0x01, 0x05, 0x1F, 0x79, 0x7F, 0x86,
                                               0xA5, 0xB0, 0xBF, 0xF1, 0xFD, 0xFE, 0xFF, '\n', '-'};
  switch (Next(seed) % 6) {
    case 0:
      if (!s.empty()) s[Next(seed) % s.size()] ^= char(1u << (Next(seed) % 8));
      break;
    case 1:
      if (!s.empty()) s[Next(seed) % s.size()] = char(kInteresting[Next(seed) % sizeof(kInteresting)]);
      break;
    case 2:
      if (!s.empty()) s.erase(Next(seed) % s.size(), 1 + Next(seed) % 16);
      break;
    case 3:
      s.insert(s.empty() ? 0 : Next(seed) % s.size(), 1, char(kInteresting[Next(seed) % sizeof(kInteresting)]));
      break;
    case 4:
      if (!s.empty()) s.resize(Next(seed) % s.size());
      break;
    default:
      if (!s.empty()) {
        const size_t from = Next(seed) % s.size(), len = 1 + Next(seed) % 64;
        s.insert(Next(seed) % s.size(), s.substr(from, len));
      }
  }
}

}  // namespace

size_t Exercise(FuzzEntry entry, const std::vector<std::string>& seeds, int rounds) {
  uint32_t seed = 2026;
  size_t runs = 0;
  for (const std::string& s : seeds) {
    entry(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    ++runs;
    for (int i = 0; i < rounds; ++i) {
      std::string m = s;
      for (int k = 0; k <= i % 4; ++k) Mutate(m, seed);
      entry(reinterpret_cast<const uint8_t*>(m.data()), m.size());
      ++runs;
    }
  }
  return runs;
}
