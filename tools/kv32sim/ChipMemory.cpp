#include "ChipMemory.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kv32sim {

void ChipMemory::init(const ChipProfile& p, const uint8_t* uid12) {
  flash.assign(static_cast<size_t>(p.flashKB) * 1024u, 0xFF);
  system.assign(kSystemSize, 0x00);
  bank3.clear();
  bank3Enabled = false;
  // BID block: byte 6 is the BID's major byte.
  uint8_t* bid = sys(kBidBlock);
  for (int i = 0; i < 8; ++i) bid[i] = static_cast<uint8_t>(0x10 + i);
  bid[6] = static_cast<uint8_t>(p.bid >> 8);
  // Flash size register in KB, least significant byte first.
  uint8_t* fs = sys(kFlashSizeRegister);
  fs[0] = static_cast<uint8_t>(p.flashKB);
  fs[1] = static_cast<uint8_t>(p.flashKB >> 8);
  for (int i = 2; i < 8; ++i) fs[i] = 0xFF;
  memcpy(sys(kUidAddress), uid12, 12);
  if (p.otpLength) {
    memset(sys(p.otpAddress), 0xFF, p.otpLength);
    memset(sys(p.lockAddress), 0xFF, p.lockLength);
  }
  defaultOptionBytes(p);
}

void ChipMemory::defaultOptionBytes(const ChipProfile& p) {
  uint8_t* o = sys(p.optionAddress);
  for (uint32_t i = 0; i < p.optionValues; ++i) {
    o[2 * i] = 0xFF;
    o[2 * i + 1] = 0x00;
  }
  o[0] = 0xA5;
  o[1] = 0x5A;
}

namespace {

const char kMagic[] = "KV32SIMSTATE 1\n";

void putU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}
uint32_t getU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void section(std::string& out, const char tag[4], const uint8_t* data, size_t n) {
  out.append(tag, 4);
  putU32(out, static_cast<uint32_t>(n));
  out.append(reinterpret_cast<const char*>(data), n);
}

}  // namespace

bool saveState(const ChipMemory& m, const ChipProfile& p, const std::string& path, std::string& error) {
  std::string out(kMagic);
  std::string conf;
  putU32(conf, p.pid);
  putU32(conf, m.bank3Enabled);
  putU32(conf, m.bank3Type);
  putU32(conf, m.bank3FlashDA);
  putU32(conf, m.remap);
  putU32(conf, m.slibEnabled);
  putU32(conf, m.slibPassword);
  putU32(conf, m.slibStart);
  putU32(conf, m.slibDataStart);
  putU32(conf, m.slibEnd);
  section(out, "CONF", reinterpret_cast<const uint8_t*>(conf.data()), conf.size());
  section(out, "FLSH", m.flash.data(), m.flash.size());
  section(out, "SYSM", m.system.data(), m.system.size());
  section(out, "BNK3", m.bank3.data(), m.bank3.size());
  // Written next to the target and renamed, so a crash never leaves half a file.
  const std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f || !f.write(out.data(), static_cast<std::streamsize>(out.size()))) {
      error = "cannot write " + tmp;
      return false;
    }
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + tmp + " to " + path;
    return false;
  }
  return true;
}

bool readWhole(const std::string& path, std::string& contents, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot read " + path;
    return false;
  }
  std::ostringstream ss;
  ss << f.rdbuf();
  contents = ss.str();
  return true;
}

bool loadState(ChipMemory& m, const ChipProfile& p, const std::string& path, std::string& error) {
  std::string all;
  if (!readWhole(path, all, error)) return false;
  const size_t magic = sizeof kMagic - 1;
  if (all.size() < magic || all.compare(0, magic, kMagic) != 0) {
    error = path + " is not a kv32sim state file";
    return false;
  }
  const uint8_t* d = reinterpret_cast<const uint8_t*>(all.data());
  size_t pos = magic;
  ChipMemory n = m;
  bool haveConf = false, haveFlash = false, haveSys = false;
  std::vector<uint8_t> bank3;
  while (pos < all.size()) {
    if (all.size() - pos < 8) {
      error = path + ": truncated section header";
      return false;
    }
    const std::string tag = all.substr(pos, 4);
    const uint32_t len = getU32(d + pos + 4);
    pos += 8;
    if (len > all.size() - pos) {
      error = path + ": section " + tag + " runs past the end";
      return false;
    }
    const uint8_t* s = d + pos;
    if (tag == "CONF") {
      if (len != 40) {
        error = path + ": bad CONF section";
        return false;
      }
      if (getU32(s) != p.pid) {
        char buf[96];
        snprintf(buf, sizeof buf, "%s holds a chip %08X, not %08X", path.c_str(), getU32(s), p.pid);
        error = buf;
        return false;
      }
      n.bank3Enabled = getU32(s + 4) != 0;
      n.bank3Type = static_cast<uint8_t>(getU32(s + 8));
      n.bank3FlashDA = getU32(s + 12);
      n.remap = static_cast<uint8_t>(getU32(s + 16));
      n.slibEnabled = getU32(s + 20) != 0;
      n.slibPassword = getU32(s + 24);
      n.slibStart = static_cast<uint16_t>(getU32(s + 28));
      n.slibDataStart = static_cast<uint16_t>(getU32(s + 32));
      n.slibEnd = static_cast<uint16_t>(getU32(s + 36));
      haveConf = true;
    } else if (tag == "FLSH") {
      if (len != n.flash.size()) {
        error = path + ": flash size differs from the device's";
        return false;
      }
      n.flash.assign(s, s + len);
      haveFlash = true;
    } else if (tag == "SYSM") {
      if (len != kSystemSize) {
        error = path + ": bad system memory section";
        return false;
      }
      n.system.assign(s, s + len);
      haveSys = true;
    } else if (tag == "BNK3") {
      if (len > kBank3MaxSize || len % kBank3SectorSize != 0) {
        error = path + ": bad external bank section";
        return false;
      }
      bank3.assign(s, s + len);
    }  // unknown sections are skipped
    pos += len;
  }
  if (!haveConf || !haveFlash || !haveSys) {
    error = path + ": sections missing";
    return false;
  }
  if (n.bank3Enabled && bank3.empty()) {
    error = path + ": external bank enabled without its contents";
    return false;
  }
  n.bank3 = std::move(bank3);
  if (n.slibEnabled && (n.slibStart > n.slibEnd || n.slibEnd >= p.sectorCount())) {
    error = path + ": bad sLib range";
    return false;
  }
  m = std::move(n);
  return true;
}

}  // namespace kv32sim
