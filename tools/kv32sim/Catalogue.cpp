#include "Catalogue.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>

namespace kv32sim {

uint32_t flashKBFromPid(uint32_t pid) {
  static const uint32_t kb[23] = {16,  24,  32,  48,  64,   72,   96,   128,  192,  256,  384,  512,
                                  768, 1024, 1536, 2048, 4096, 5120, 192, 960, 1984, 4032, 448};
  const uint32_t c = (pid >> 6) & 0x1F;
  return c > 22 ? 0 : kb[c];
}

uint32_t ChipProfile::eppIndex(uint32_t k) const {
  if (k < 4) return 4 + k;
  return 10 + (k - 4);  // series 13/14: EPP[4..19] at option bytes 10..25
}

namespace {

using Ini = std::map<std::string, std::map<std::string, std::string>>;

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool readIni(const std::string& path, Ini& ini) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line, section;
  size_t lines = 0;
  while (std::getline(in, line) && ++lines < 100000) {
    line = trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const size_t e = line.find(']');
      section = trim(line.substr(1, e == std::string::npos ? std::string::npos : e - 1));
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    ini[section][trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  return true;
}

std::string upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

bool hexValue(const std::string& s, uint32_t& v) {
  std::string t = s;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
  if (t.empty() || t.size() > 8) return false;
  v = 0;
  for (char c : t) {
    if (!isxdigit(static_cast<unsigned char>(c))) return false;
    v = v * 16 + static_cast<uint32_t>(isdigit(static_cast<unsigned char>(c)) ? c - '0' : toupper(c) - 'A' + 10);
  }
  return true;
}

// What the silicon of a series has beyond the catalogue's identity.
void completeFromSeries(ChipProfile& p) {
  const unsigned s = p.series;
  auto in = [s](std::initializer_list<unsigned> l) { return std::find(l.begin(), l.end(), s) != l.end(); };
  p.externalBank = in({2, 4, 7, 8});
  p.oneTimeLevel2 = in({15, 16, 18, 19, 20, 21, 22, 23, 25, 26, 28, 29, 30, 31, 32});
  p.twoBanks = p.flashKB > 512;
  if (in({13, 14})) {
    p.optionAddress = 0x1FFFC000;
    p.optionValues = p.sectorSize == 4096 ? 2048 : 256;
    p.eppCount = 20;
    p.blockSize = 0x10000;
    p.slibExtended = true;
  } else if (in({5, 17})) {
    p.optionValues = p.bid > 0x4601 ? 512 : 16;
  } else if (in({9, 15, 16, 18, 19, 20, 21, 22, 23, 25, 26, 28, 29, 30, 31, 32})) {
    p.optionValues = 256;
  } else {
    p.optionValues = 24;
  }
  if (in({21, 22, 23})) {
    p.otpAddress = 0x1FFFE400;
    p.otpLength = 4096;
  } else if (in({25, 26, 28, 31, 32})) {
    p.otpAddress = 0x1FFFF000;
    p.otpLength = 1024;
  }
  if (p.otpLength) {
    p.lockAddress = 0x1FFFF500;
    p.lockLength = 128;
  }
}

struct Entry {
  ChipProfile profile;
  std::string file;
};

}  // namespace

bool findChip(const std::string& dir, const std::string& spec, uint16_t bid, ChipProfile& out,
              std::string& error) {
  DIR* d = opendir(dir.c_str());
  if (!d) {
    error = "cannot read the device catalogue " + dir;
    return false;
  }
  std::vector<std::string> files;
  while (dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n.size() > 6 && n.compare(n.size() - 6, 6, ".KVmap") == 0) files.push_back(n);
  }
  closedir(d);
  std::sort(files.begin(), files.end());

  std::vector<Entry> entries;
  for (const auto& f : files) {
    Ini ini;
    if (!readIni(dir + "/" + f, ini)) continue;
    auto& prod = ini["Product"];
    if (prod["PID"].empty() || prod["Serial"].empty()) continue;  // a sector file
    uint32_t serial = 0, size = 0;
    if (!hexValue(prod["Serial"], serial) || !hexValue(ini["Sector0"]["Size"], size) || size < 1024 ||
        size > 128 * 1024)
      continue;
    const long spb = strtol(prod["SectorsPerSector"].c_str(), nullptr, 10);
    // Every run of 8 hexadecimal digits in the PID text is one identifier.
    const std::string pids = prod["PID"];
    for (size_t i = 0; i < pids.size();) {
      size_t j = i;
      while (j < pids.size() && isxdigit(static_cast<unsigned char>(pids[j]))) ++j;
      uint32_t pid = 0;
      if (j - i == 8 && hexValue(pids.substr(i, 8), pid)) {
        Entry en;
        en.file = f;
        en.profile.name = prod["Name"];
        en.profile.series = serial;
        en.profile.pid = pid;
        en.profile.flashKB = flashKBFromPid(pid);
        en.profile.sectorSize = size;
        en.profile.sectorsPerBit = spb >= 1 && spb <= 64 ? static_cast<uint32_t>(spb) : 1;
        entries.push_back(en);
      }
      i = j == i ? i + 1 : j;
    }
  }

  const std::string want = upper(spec);
  for (const auto& e : entries) {
    const auto& p = e.profile;
    char pidText[9];
    snprintf(pidText, sizeof pidText, "%08X", p.pid);
    const std::string sized = upper(p.name) + "_" + std::to_string(p.flashKB) + "K";
    if (want == upper(p.name) || want == sized || want == pidText) {
      if (p.flashKB == 0 || p.sectorCount() == 0) {
        error = "the catalogue entry for " + spec + " has no usable flash size";
        return false;
      }
      out = p;
      out.bid = bid;
      completeFromSeries(out);
      return true;
    }
  }
  error = "no device " + spec + " in the catalogue " + dir;
  return false;
}

bool findPeer(const std::string& spec, ChipProfile& out) {
  if (upper(spec) != "PEER-0414") return false;
  out = ChipProfile();
  out.name = "PEER-0414";
  out.peerId = 0x0414;
  out.flashKB = 512;
  out.sectorSize = 2048;
  out.sectorsPerBit = 2;
  out.optionValues = 8;
  out.bid = 0;  // its GET_VERSION answers two option bytes of 0
  return true;
}

}  // namespace kv32sim
