#include "FaultPlan.h"

#include "SimLog.h"

#include <cerrno>
#include <cstdlib>

namespace kv32sim {

bool parseNumber(const std::string& text, uint64_t max, uint64_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v > max) return false;
  value = v;
  return true;
}

namespace {

std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> out;
  size_t b = 0;
  for (;;) {
    const size_t e = s.find(':', b);
    out.push_back(s.substr(b, e == std::string::npos ? std::string::npos : e - b));
    if (e == std::string::npos) break;
    b = e + 1;
  }
  return out;
}

}  // namespace

bool FaultPlan::add(const std::string& spec, std::string& error) {
  const auto f = split(spec);
  const std::string& kind = f[0];
  uint64_t a = 0, b = 0;
  auto bad = [&](const char* why) {
    error = "bad fault \"" + spec + "\": " + why;
    return false;
  };
  if (kind == "drop" || kind == "flip") {
    if (f.size() < 2 || f.size() > (kind == "flip" ? 3u : 2u)) return bad("wrong number of fields");
    if (!parseNumber(f[1], UINT64_MAX, a) || a == 0) return bad("byte number must be 1 or more");
    b = 0x01;
    if (f.size() == 3 && (!parseNumber(f[2], 0xFF, b) || b == 0)) return bad("mask must be 1..0xFF");
    m_bytes.push_back({a, kind == "drop", static_cast<uint8_t>(b)});
    return true;
  }
  if (kind == "nack" || kind == "stall") {
    if (f.size() < 2 || f.size() > 3) return bad("wrong number of fields");
    if (!parseNumber(f[1], 0xFF, a)) return bad("command must be 0..0xFF");
    b = 1;
    if (f.size() == 3 && (!parseNumber(f[2], UINT64_MAX, b) || b == 0)) return bad("occurrence must be 1 or more");
    m_cmds.push_back({static_cast<uint8_t>(a), b, kind == "stall"});
    return true;
  }
  if (kind == "busy" || kind == "status") {
    if (f.size() != (kind == "busy" ? 2u : 3u)) return bad("wrong number of fields");
    if (!parseNumber(f[1], UINT64_MAX, a) || a == 0) return bad("frame number must be 1 or more");
    b = 0xFD;
    if (kind == "status" && (!parseNumber(f[2], 0xFF, b) || b == 0xF1)) return bad("status must be 0..0xFF, not 0xF1");
    m_frames.push_back({a, static_cast<uint8_t>(b)});
    return true;
  }
  if (kind == "unplug") {
    if (f.size() != 2) return bad("wrong number of fields");
    if (!parseNumber(f[1], UINT64_MAX, a) || a == 0) return bad("byte number must be 1 or more");
    m_unplugAt = a;
    return true;
  }
  if (kind == "weak") {
    if (f.size() < 2 || f.size() > 3) return bad("wrong number of fields");
    if (!parseNumber(f[1], UINT32_MAX, a)) return bad("address must be 0..0xFFFFFFFF");
    b = 0x01;
    if (f.size() == 3 && (!parseNumber(f[2], 0xFF, b) || b == 0)) return bad("mask must be 1..0xFF");
    m_weak[static_cast<uint32_t>(a)] |= static_cast<uint8_t>(b);
    return true;
  }
  if (kind == "random") {
    if (f.size() != 3) return bad("wrong number of fields");
    if (!parseNumber(f[1], UINT64_MAX, a)) return bad("seed must be a number");
    char* end = nullptr;
    const double p = strtod(f[2].c_str(), &end);
    if (f[2].empty() || *end != '\0' || !(p >= 0.0 && p <= 1.0)) return bad("probability must be 0..1");
    m_random = true;
    m_probability = p;
    m_rng.seed(a);
    return true;
  }
  return bad("unknown kind");
}

FaultPlan::ByteAction FaultPlan::hostByte(uint8_t& value) {
  ++m_hostBytes;
  for (const auto& b : m_bytes) {
    if (b.index != m_hostBytes) continue;
    if (b.drop) {
      if (m_log) m_log->note("FAULT drop host byte #%llu (%02X)", (unsigned long long)m_hostBytes, value);
      return ByteAction::Drop;
    }
    if (m_log) m_log->note("FAULT flip host byte #%llu %02X -> %02X", (unsigned long long)m_hostBytes, value, value ^ b.mask);
    value ^= b.mask;
    return ByteAction::Flip;
  }
  if (m_random && m_probability > 0) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    if (u(m_rng) < m_probability) {
      if (m_rng() & 1) {
        if (m_log) m_log->note("FAULT random drop of host byte #%llu (%02X)", (unsigned long long)m_hostBytes, value);
        return ByteAction::Drop;
      }
      const uint8_t mask = static_cast<uint8_t>(1u << (m_rng() % 8));
      if (m_log) m_log->note("FAULT random flip of host byte #%llu %02X -> %02X", (unsigned long long)m_hostBytes, value, value ^ mask);
      value ^= mask;
      return ByteAction::Flip;
    }
  }
  return ByteAction::Send;
}

bool FaultPlan::chipByte() {
  ++m_chipBytes;
  if (m_unplugAt == 0 || m_chipBytes != m_unplugAt) return false;
  if (m_log) m_log->note("FAULT unplug at host byte #%llu", (unsigned long long)m_chipBytes);
  return true;
}

FaultPlan::CommandAction FaultPlan::command(uint8_t cmd) {
  const uint64_t n = ++m_cmdCount[cmd];
  for (const auto& c : m_cmds) {
    if (c.cmd != cmd || c.occurrence != n) continue;
    if (m_log) m_log->note("FAULT %s command %02X occurrence %llu", c.stall ? "stall at" : "nack", cmd, (unsigned long long)n);
    return c.stall ? CommandAction::Stall : CommandAction::Nack;
  }
  return CommandAction::Serve;
}

bool FaultPlan::bridgeFrame(uint8_t& status) {
  ++m_bridgeFrames;
  for (const auto& f : m_frames) {
    if (f.index != m_bridgeFrames) continue;
    status = f.status;
    if (m_log) m_log->note("FAULT bridge frame #%llu answered with status %02X", (unsigned long long)m_bridgeFrames, status);
    return true;
  }
  return false;
}

}  // namespace kv32sim
