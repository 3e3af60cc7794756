#include "DfuLine.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace kvdfu {
namespace {

// Exactly `digits` hexadecimal digits.
bool hexValue(const std::string& s, size_t digits, uint32_t* out) {
  if (s.size() != digits || digits == 0 || digits > 8) return false;
  uint32_t v = 0;
  for (char c : s) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    v = v * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                           ? c - '0'
                                           : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
  }
  *out = v;
  return true;
}

// At most 8 decimal digits.
bool decimalValue(const std::string& s, uint32_t* out) {
  if (s.empty() || s.size() > 8 ||
      !std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return false;
  *out = static_cast<uint32_t>(std::stoul(s));
  return true;
}

}  // namespace

DfuIdentity ParseIdentity(const std::string& text) {
  DfuIdentity id;
  bool pid = false, ser = false, ver = false, bid = false;
  uint32_t v = 0;
  std::istringstream words(text);
  std::string w;
  while (words >> w) {
    const size_t eq = w.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = w.substr(0, eq), value = w.substr(eq + 1);
    if (key == "PID" && hexValue(value, 8, &v)) {
      id.pid = v;
      pid = true;
    } else if (key == "SER" && hexValue(value, 2, &v)) {
      id.series = static_cast<uint8_t>(v);
      ser = true;
    } else if (key == "VER" && hexValue(value, 2, &v)) {
      id.version = static_cast<uint8_t>(v);
      ver = true;
    } else if (key == "BID" && hexValue(value, 4, &v)) {
      id.bid = static_cast<uint16_t>(v);
      bid = true;
    } else if (key == "SECT" && decimalValue(value, &v) && v >= 1024 && v <= 128 * 1024) {
      id.sectorSize = v;  // sector sizes the link can address: 1 KB .. 128 KB
    } else if (key == "FLASH" && decimalValue(value, &v) && v >= 1 && v <= 16 * 1024) {
      id.flashKB = v;
    }
  }
  id.hasId = pid && ser;
  id.hasVersion = ver && bid;
  return id;
}

bool IsKv32Identity(const std::string& text) { return ParseIdentity(text).hasId; }

bool CDfuLine::openPort() {
  if (isConnected) return true;
  DfuChoice choice = m_choice;
  if (!choice.byPlace()) choice.index = m_nPortNum;
  m_dev = OpenDfuDevice(choice, m_error);
  if (!m_dev) {
    NoteDfuProblem(m_error);
    return false;
  }
  m_identity = ParseIdentity(m_dev->identity());
  commands.clear();
  m_session.forget();
  m_status = DfuErrorStatus();
  isConnected = true;
  return true;
}

void CDfuLine::closePort() {
  m_dev.reset();
  commands.clear();
  m_session.forget();
  isConnected = false;
}

void CDfuLine::bind(const std::string& path, const std::string& serial) {
  m_choice = DfuChoice();
  m_choice.path = path;
  m_choice.serial = path.empty() ? std::string() : serial;
}

bool CDfuLine::lists(uint8_t code) const {
  return std::find(commands.begin(), commands.end(), code) != commands.end();
}

}  // namespace kvdfu
