#include "MemoryMap.h"

#include "Files.h"
#include "LastError.h"
#include "Text.h"

namespace libfiles {

static std::string trim(const char* p, size_t n) {
  size_t b = 0, e = n;
  while (b < e && (p[b] == ' ' || p[b] == '\t')) ++b;
  while (e > b && (p[e - 1] == ' ' || p[e - 1] == '\t')) --e;
  return std::string(p + b, e - b);
}

unsigned int IniFile::parse(const std::string& text) {
  m_sections.clear();
  std::string section;
  bool ok = forEachLine(text, [&](const char* p, size_t n, size_t number) {
    std::string line = trim(p, n);
    if (line.empty() || line[0] == ';' || line[0] == '#') return true;
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3 || (section = trim(line.data() + 1, line.size() - 2)).empty()) {
        setLineError(number, "not a [section] name");
        return false;
      }
      return true;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) {
      setLineError(number, "neither a [section], a key=value line nor a comment");
      return false;
    }
    std::string key = trim(line.data(), eq);
    std::string value = trim(line.data() + eq + 1, line.size() - eq - 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    m_sections[section].emplace(key, value);  // first value wins
    return true;
  });
  return ok ? FILES_NOERROR : FILES_BADFORMAT;
}

bool IniFile::value(const std::string& section, const std::string& key, std::string& out) const {
  auto s = m_sections.find(section);
  if (s == m_sections.end()) return false;
  auto k = s->second.find(key);
  if (k == s->second.end()) return false;
  out = k->second;
  return true;
}

bool parseNumber(const std::string& text, bool hex, uint64_t& out) {
  size_t i = 0;
  if (hex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
  if (i >= text.size() || text.size() - i > 16) return false;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    int d = hex ? hexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (d < 0) return false;
    v = v * (hex ? 16 : 10) + unsigned(d);
  }
  out = v;
  return true;
}

// Largest sector we accept in a map; anything bigger is a broken file.
static const uint64_t kMaxSectorSize = 16u * 1024 * 1024;

unsigned int MemoryMap::parse(const std::string& text) {
  IniFile ini;
  if (ini.parse(text) != FILES_NOERROR) return FILES_BADFORMAT;
  std::string v;
  uint64_t n = 0;
  name.clear();
  ini.value("Product", "Name", name);
  if (!ini.value("Product", "PacketSize", v) || !parseNumber(v, false, n) || n == 0) return FILES_BADFORMAT;
  // Whole 32-bit words, at most what one bootloader WRITE carries.
  packetSize = n >= 252 ? 252 : n < 4 ? 4 : unsigned(n & ~3ull);
  sectorsPerSector = 1;
  if (ini.value("Product", "SectorsPerSector", v)) {
    if (!parseNumber(v, false, n) || n > 255) return FILES_BADFORMAT;
    sectorsPerSector = n == 0 ? 1 : unsigned(n);
  }
  runs.clear();
  sectorCount = 0;
  uint64_t next = 0;  // first address after the previous run
  for (unsigned k = 0;; ++k) {
    const std::string section = "Sector" + std::to_string(k);
    uint64_t address = next, size = 0, count = 1;
    std::string a, s, c;
    bool hasA = ini.value(section, "Address", a), hasS = ini.value(section, "Size", s),
         hasC = ini.value(section, "Count", c);
    if (!hasA && !hasS && !hasC) break;
    if ((hasA && !parseNumber(a, true, address)) || (!hasA && k == 0)) return FILES_BADFORMAT;
    if (!hasS || !parseNumber(s, true, size) || size == 0 || size > kMaxSectorSize) return FILES_BADFORMAT;
    if (hasC && (!parseNumber(c, false, count) || count == 0)) return FILES_BADFORMAT;
    if (count > FILES_MAX_SECTORS || sectorCount + count > FILES_MAX_SECTORS) return FILES_BADFORMAT;
    if (address < next || address + size * count > (uint64_t(1) << 32)) return FILES_BADFORMAT;
    runs.push_back({uint32_t(address), uint32_t(size), uint32_t(count)});
    sectorCount += count;
    next = address + size * count;
  }
  return runs.empty() ? FILES_BADFORMAT : FILES_NOERROR;
}

}  // namespace libfiles
