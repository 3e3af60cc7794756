#include "ChipModel.h"

#include "SimLog.h"

#include <algorithm>
#include <cstring>

namespace kv32sim {

namespace {

bool anyIn(uint8_t cmd, std::initializer_list<uint8_t> l) {
  return std::find(l.begin(), l.end(), cmd) != l.end();
}

void putBE(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

}  // namespace

ChipModel::ChipModel(const ChipProfile& profile, const uint8_t* uid12) : m_p(profile) {
  m_m.init(m_p, uid12);
  m_sram.assign(kSramSize, 0x00);
  reset();
}

std::vector<uint8_t> ChipModel::commandList(bool can) const {
  std::vector<uint8_t> l;
  if (m_p.peerId) {
    l = {0x00, 0x01, 0x02, 0x11, 0x21, 0x31};
    if (m_p.plainErase) l.push_back(0x43);
    if (m_p.extendedErase) l.push_back(0x44);
    for (uint8_t c : {0x63, 0x73, 0x82, 0x92}) l.push_back(c);
  } else if (can) {
    l = {0x00, 0x01, 0x02, 0x03, 0x11, 0x21, 0x31, 0x44, 0x63, 0x73, 0x82, 0x92, 0xAC};
    if (m_p.externalBank) l.push_back(0xD3);
  } else {
    l = {0x00, 0x01, 0x02, 0x11, 0x21, 0x31};
    if (m_p.plainErase) l.push_back(0x43);
    if (m_p.extendedErase) l.push_back(0x44);
    for (uint8_t c : {0x63, 0x71, 0x73, 0x82, 0x91, 0x92, 0xAC}) l.push_back(c);
    if (m_p.externalBank) {
      l.push_back(0xB3);
      l.push_back(0xD3);
    }
    l.push_back(0xFA);
  }
  if (!m_p.peerId)
    for (uint8_t c : {0xD0, 0xD1, 0xD2, 0xD4, 0xD6}) l.push_back(c);
  for (uint8_t c : m_p.unlisted) l.erase(std::remove(l.begin(), l.end(), c), l.end());
  return l;
}

bool ChipModel::listed(uint8_t cmd, bool can) const {
  const auto l = commandList(can);
  return std::find(l.begin(), l.end(), cmd) != l.end();
}

std::vector<uint8_t> ChipModel::idAnswer() const {
  if (m_p.peerId) return {static_cast<uint8_t>(m_p.peerId >> 8), static_cast<uint8_t>(m_p.peerId)};
  return {static_cast<uint8_t>(m_p.pid >> 8), static_cast<uint8_t>(m_p.pid), static_cast<uint8_t>(m_p.pid >> 24),
          static_cast<uint8_t>(m_p.pid >> 16), static_cast<uint8_t>(m_p.series)};
}

void ChipModel::versionAnswer(uint8_t out[3]) const {
  out[0] = m_p.version;
  out[1] = static_cast<uint8_t>(m_p.bid >> 8);
  out[2] = static_cast<uint8_t>(m_p.bid);
}

int ChipModel::accessLevel() const { return m_accessLifted ? 0 : m_level; }

bool ChipModel::level2Locked() const { return m_p.oneTimeLevel2 && m_level == 2; }

bool ChipModel::commandAllowed(uint8_t cmd) const {
  if (accessLevel() == 0) return true;
  if (level2Locked()) return anyIn(cmd, {0x00, 0x01, 0x02, 0x03, 0xD2, 0xD4, 0xFA});
  return anyIn(cmd, {0x00, 0x01, 0x02, 0x03, 0x82, 0x91, 0x92, 0xD2, 0xD4, 0xD6, 0xFA});
}

uint8_t ChipModel::option(uint32_t index, bool* valid) const {
  const uint8_t* o = m_m.sys(m_p.optionAddress) + 2 * index;
  if (valid) *valid = (o[0] ^ o[1]) == 0xFF;
  return o[0];
}

void ChipModel::setOption(uint32_t index, uint8_t value) {
  uint8_t* o = m_m.sys(m_p.optionAddress) + 2 * index;
  o[0] = value;
  o[1] = static_cast<uint8_t>(~value);
  m_optionsChanged = true;
}

void ChipModel::reset() {
  bool valid = false;
  const uint8_t fap = option(0, &valid);
  // A value without its complement counts as protected, never as open.
  m_level = (valid && fap == 0xA5) ? 0 : (valid && fap == 0xCC) ? 2 : 1;
  m_epp.assign(m_p.eppCount, 0x00);
  for (uint32_t k = 0; k < m_p.eppCount; ++k) {
    const uint8_t v = option(m_p.eppIndex(k), &valid);
    m_epp[k] = valid ? v : 0x00;
  }
  m_eppLifted = false;
  m_accessLifted = false;
  m_optionsChanged = false;
  if (m_log) m_log->note("chip reset: access protection level %d", m_level);
}

void ChipModel::setAccessLevel(uint8_t level) {
  setOption(0, level == 2 ? 0xCC : level == 1 ? 0xFF : 0xA5);
  reset();
}

ChipModel::Area ChipModel::area(uint32_t address, uint32_t n) const {
  if (n == 0) return Area::None;
  const uint64_t a = address, e = a + n;
  auto within = [&](uint64_t base, uint64_t size) { return a >= base && e <= base + size; };
  if (within(kFlashBase, m_m.flash.size())) return Area::Flash;
  if (m_m.bank3Enabled && within(kBank3Base, m_m.bank3.size())) return Area::Bank3;
  if (within(kSramBase, kSramSize)) return Area::Sram;
  if (within(m_p.optionAddress, 2ull * m_p.optionValues)) return Area::Option;
  if (m_p.otpLength && within(m_p.otpAddress, m_p.otpLength)) return Area::Otp;
  if (m_p.lockLength && within(m_p.lockAddress, m_p.lockLength)) return Area::Lock;
  if (within(kSystemBase, kSystemSize)) return Area::System;
  return Area::None;
}

bool ChipModel::sectorProtected(uint32_t page) const {
  if (m_eppLifted) return false;
  uint32_t byte = 0, bit = 0;
  const uint32_t n = m_p.sectorsPerBit ? m_p.sectorsPerBit : 1;
  if (m_p.eppCount <= 4) {
    const uint32_t b = page >= kBank3FirstSector ? 31 : std::min<uint32_t>(page / n, 31);
    byte = b / 8;
    bit = b % 8;
  } else {
    const uint32_t B = 131072 / m_p.sectorSize;
    if (page < B) {
      const uint32_t b = std::min<uint32_t>(page / n, 31);
      byte = b / 8;
      bit = b % 8;
    } else {
      const uint32_t r = page - B;
      byte = std::min<uint32_t>(4 + r / (8 * B), m_p.eppCount - 1);
      bit = (r / B) % 8;
    }
  }
  return ((m_epp[byte] >> bit) & 1) == 0;
}

bool ChipModel::inSlib(uint32_t page) const {
  return m_m.slibEnabled && page >= m_m.slibStart && page <= m_m.slibEnd;
}

bool ChipModel::slibCode(uint32_t page) const {
  return m_m.slibEnabled && page >= m_m.slibStart && page < m_m.slibDataStart;
}

bool ChipModel::read(uint32_t address, uint32_t n, uint8_t* out) const {
  switch (area(address, n)) {
    case Area::None:
      return false;
    case Area::Flash: {
      const uint32_t off = address - kFlashBase;
      for (uint32_t s = off / m_p.sectorSize; s <= (off + n - 1) / m_p.sectorSize; ++s)
        if (slibCode(s)) {
          if (m_log) m_log->note("read refused: sector %u holds sLib code", s);
          return false;
        }
      memcpy(out, &m_m.flash[off], n);
      return true;
    }
    case Area::Bank3:
      memcpy(out, &m_m.bank3[address - kBank3Base], n);
      return true;
    case Area::Sram:
      memcpy(out, &m_sram[address - kSramBase], n);
      return true;
    default:
      memcpy(out, m_m.sys(address), n);
      return true;
  }
}

bool ChipModel::write(uint32_t address, const uint8_t* data, uint32_t n) {
  // Everything is checked before anything is written.
  if (!(store(address, data, n, false) && store(address, data, n, true))) return false;
  for (auto it = m_weak.lower_bound(address); it != m_weak.end() && it->first - address < n; ++it) {
    if (area(it->first, 1) != Area::Flash) continue;
    uint8_t& cell = m_m.flash[it->first - kFlashBase];
    if ((cell | it->second) != cell && m_log)
      m_log->note("FAULT weak cell %08X keeps bits %02X: %02X -> %02X", it->first, it->second, cell,
                  static_cast<uint8_t>(cell | it->second));
    cell |= it->second;
  }
  return true;
}

bool ChipModel::storeAcross(uint32_t address, const uint8_t* data, uint32_t n, bool apply) {
  // A write that leaves its region, such as a padded write of the last lock
  // byte: every byte outside writable memory must keep its value.
  uint32_t i = 0;
  while (i < n) {
    const Area a = area(address + i, 1);
    uint32_t j = i + 1;
    while (j < n && area(address + j, 1) == a) ++j;
    if (a == Area::None) return false;
    if (a == Area::System) {
      if (memcmp(m_m.sys(address + i), data + i, j - i) != 0) return false;
    } else if (!store(address + i, data + i, j - i, apply)) {
      return false;
    }
    i = j;
  }
  return true;
}

bool ChipModel::store(uint32_t address, const uint8_t* data, uint32_t n, bool apply) {
  auto refuse = [&](const char* why) {
    if (apply) return false;
    if (m_log) m_log->note("write of %u byte(s) at %08X refused: %s", n, address, why);
    return false;
  };
  auto blankOrEqual = [&](const uint8_t* mem) {
    for (uint32_t i = 0; i < n; ++i)
      if (mem[i] != 0xFF && mem[i] != data[i]) return false;
    return true;
  };
  const Area a = area(address, n);
  switch (a) {
    case Area::None:
    case Area::System:
      if (n > 1 && storeAcross(address, data, n, apply)) return true;
      return refuse("not writable memory");
    case Area::Flash:
    case Area::Bank3: {
      const bool main = a == Area::Flash;
      const uint32_t off = address - (main ? kFlashBase : kBank3Base);
      const uint32_t size = main ? m_p.sectorSize : kBank3SectorSize;
      for (uint32_t s = off / size; s <= (off + n - 1) / size; ++s) {
        const uint32_t page = main ? s : kBank3FirstSector + s;
        if (sectorProtected(page)) return refuse("erase/program protected sector");
        if (main && inSlib(page)) return refuse("sLib sector");
      }
      uint8_t* mem = main ? &m_m.flash[off] : &m_m.bank3[off];
      if (!blankOrEqual(mem)) return refuse("flash not erased");
      if (apply) memcpy(mem, data, n);
      return true;
    }
    case Area::Sram:
      if (apply) memcpy(&m_sram[address - kSramBase], data, n);
      return true;
    case Area::Option:
      if (level2Locked()) return refuse("level-2 protection is permanent");
      // Option bytes are erased and programmed by the bootloader itself.
      if (apply) {
        memcpy(m_m.sys(address), data, n);
        m_optionsChanged = true;
      }
      return true;
    case Area::Otp: {
      const uint32_t off = address - m_p.otpAddress;
      for (uint32_t blk = off / 32; blk <= (off + n - 1) / 32; ++blk)
        if (*m_m.sys(m_p.lockAddress + blk) != 0xFF) return refuse("OTP block locked");
      if (!blankOrEqual(m_m.sys(address))) return refuse("OTP bytes already programmed");
      if (apply) memcpy(m_m.sys(address), data, n);
      return true;
    }
    case Area::Lock:
      if (!blankOrEqual(m_m.sys(address))) return refuse("lock bytes already programmed");
      if (apply) memcpy(m_m.sys(address), data, n);
      return true;
  }
  return false;
}

bool ChipModel::eraseFlashRange(uint32_t first, uint32_t count, bool skipSlib) {
  for (uint32_t s = first; s < first + count; ++s)
    if (sectorProtected(s)) {
      if (m_log) m_log->note("erase refused: sector %u is erase/program protected", s);
      return false;
    }
  m_lastErased = 0;
  for (uint32_t s = first; s < first + count; ++s) {
    if (skipSlib && inSlib(s)) continue;
    memset(&m_m.flash[size_t(s) * m_p.sectorSize], 0xFF, m_p.sectorSize);
    ++m_lastErased;
  }
  return true;
}

bool ChipModel::eraseSectors(const std::vector<uint16_t>& pages) {
  if (pages.empty()) return false;
  for (uint16_t p : pages) {
    bool ok;
    if (p < kBank3FirstSector)
      ok = p < m_p.sectorCount() && !inSlib(p);
    else
      ok = m_m.bank3Enabled && uint32_t(p - kBank3FirstSector) < m_m.bank3.size() / kBank3SectorSize;
    if (!ok || sectorProtected(p)) {
      if (m_log) m_log->note("erase refused: page %04X", p);
      return false;
    }
  }
  for (uint16_t p : pages) {
    if (p < kBank3FirstSector)
      memset(&m_m.flash[size_t(p) * m_p.sectorSize], 0xFF, m_p.sectorSize);
    else
      memset(&m_m.bank3[size_t(p - kBank3FirstSector) * kBank3SectorSize], 0xFF, kBank3SectorSize);
  }
  m_lastErased = static_cast<uint32_t>(pages.size());
  return true;
}

bool ChipModel::eraseCode(uint16_t code, uint32_t blockAddress) {
  const uint32_t count = m_p.sectorCount();
  switch (code) {
    case 0xFFFF:
      return eraseFlashRange(0, count, true);
    case 0xFFFE:
      return eraseFlashRange(0, m_p.twoBanks ? count / 2 : count, true);
    case 0xFFFD:
      return m_p.twoBanks && eraseFlashRange(count / 2, count - count / 2, true);
    case 0xFFFC:
      // With sLib on, the external bank is erased sector by sector only.
      if (!m_m.bank3Enabled || m_m.slibEnabled || sectorProtected(kBank3FirstSector)) return false;
      std::fill(m_m.bank3.begin(), m_m.bank3.end(), 0xFF);
      m_lastErased = static_cast<uint32_t>(m_m.bank3.size() / kBank3SectorSize);
      return true;
    case 0xFFFB: {
      if (!m_p.blockSize || blockAddress < kFlashBase) return false;
      const uint64_t off = blockAddress - kFlashBase;
      if (off % m_p.blockSize || off + m_p.blockSize > m_m.flash.size()) return false;
      const uint32_t first = static_cast<uint32_t>(off / m_p.sectorSize);
      const uint32_t n = m_p.blockSize / m_p.sectorSize;
      for (uint32_t s = first; s < first + n; ++s)
        if (inSlib(s)) return false;
      return eraseFlashRange(first, n, false);
    }
    default:
      return false;
  }
}

uint32_t ChipModel::crc32Words(const uint8_t* data, size_t n, uint32_t crc) {
  for (size_t i = 0; i < n; i += 4) {
    uint32_t w = 0;
    for (size_t k = 0; k < 4; ++k) w |= uint32_t(i + k < n ? data[i + k] : 0xFF) << (8 * k);
    crc ^= w;
    for (int b = 0; b < 32; ++b) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

bool ChipModel::firmwareCrc(uint32_t address, uint32_t sectors, uint32_t& crc) const {
  if (sectors == 0) return false;
  const std::vector<uint8_t>* mem = nullptr;
  uint64_t off = 0, size = 0;
  if (address >= kFlashBase && address < kFlashBase + m_m.flash.size()) {
    mem = &m_m.flash;
    off = address - kFlashBase;
    size = m_p.sectorSize;
  } else if (m_m.bank3Enabled && address >= kBank3Base && address - uint64_t(kBank3Base) < m_m.bank3.size()) {
    mem = &m_m.bank3;
    off = address - kBank3Base;
    size = kBank3SectorSize;
  } else {
    return false;
  }
  if (off % size || off + sectors * size > mem->size()) return false;
  crc = crc32Words(mem->data() + off, static_cast<size_t>(sectors * size));
  return true;
}

bool ChipModel::eraseProgramProtect(const std::vector<uint8_t>& bits) {
  if (bits.empty() || level2Locked()) return false;
  const uint32_t limit = m_p.eppCount <= 4 ? 32 : 32 + 8 * (m_p.eppCount - 4);
  for (uint8_t b : bits)
    if (b >= limit) return false;
  for (uint8_t b : bits) {
    const uint32_t k = b / 8;
    setOption(m_p.eppIndex(k), static_cast<uint8_t>(option(m_p.eppIndex(k)) & ~(1u << (b % 8))));
  }
  return true;
}

bool ChipModel::eraseProgramUnprotect() {
  if (level2Locked()) return false;
  for (uint32_t k = 0; k < m_p.eppCount; ++k) setOption(m_p.eppIndex(k), 0xFF);
  return true;
}

void ChipModel::eraseProgramTempUnprotect() { m_eppLifted = true; }

bool ChipModel::accessProtect(uint8_t level) {
  if ((level != 1 && level != 2) || level2Locked()) return false;
  setOption(0, level == 2 ? 0xCC : 0xFF);
  return true;
}

bool ChipModel::accessUnprotect() {
  if (level2Locked()) return false;
  std::fill(m_m.flash.begin(), m_m.flash.end(), 0xFF);
  std::fill(m_m.bank3.begin(), m_m.bank3.end(), 0xFF);
  m_m.slibEnabled = false;
  m_m.defaultOptionBytes(m_p);
  m_optionsChanged = true;
  if (m_log) m_log->note("access protection removed: flash mass-erased, option bytes at defaults");
  return true;
}

bool ChipModel::accessTempUnprotect() {
  if (level2Locked()) return false;
  std::fill(m_m.flash.begin(), m_m.flash.end(), 0xFF);
  std::fill(m_m.bank3.begin(), m_m.bank3.end(), 0xFF);
  m_accessLifted = true;
  return true;
}

bool ChipModel::enableBank3(uint8_t type, uint32_t size, uint32_t flashDA) {
  if (!m_p.externalBank || (type != 0x90 && type != 0x91) || size == 0 || size % kBank3SectorSize ||
      size > kBank3MaxSize)
    return false;
  m_m.bank3.resize(size, 0xFF);
  m_m.bank3Enabled = true;
  m_m.bank3Type = type;
  m_m.bank3FlashDA = flashDA;
  return true;
}

bool ChipModel::remap(uint8_t flag) {
  if (!m_p.externalBank || flag > 1) return false;
  m_m.remap = flag;
  return true;
}

uint8_t ChipModel::enableSlib(uint32_t password, uint16_t start, uint16_t dataStart, uint16_t end) {
  const uint32_t count = m_p.sectorCount();
  if (m_m.slibEnabled) return 1;
  if (start >= count) return 2;
  if (end >= count || end < start) return 4;
  if (dataStart < start || dataStart > end + 1u) return 3;
  if (password == 0 || password == 0xFFFFFFFF) return 5;
  m_m.slibEnabled = true;
  m_m.slibPassword = password;
  m_m.slibStart = start;
  m_m.slibDataStart = dataStart;
  m_m.slibEnd = end;
  return 0;
}

uint8_t ChipModel::disableSlib(uint32_t password) {
  if (!m_m.slibEnabled) return 0;
  if (password != m_m.slibPassword) return 1;
  for (uint32_t s = m_m.slibStart; s <= m_m.slibEnd; ++s)
    memset(&m_m.flash[size_t(s) * m_p.sectorSize], 0xFF, m_p.sectorSize);
  m_m.slibEnabled = false;
  return 0;
}

std::vector<uint8_t> ChipModel::slibStatus() const {
  std::vector<uint8_t> out;
  const bool on = m_m.slibEnabled;
  putBE(out, on ? 0x08 : 0x00);
  if (m_p.slibExtended) {
    putBE(out, on ? (uint32_t(m_m.slibStart) | uint32_t(m_m.slibEnd) << 16) : 0);
    putBE(out, on ? m_m.slibDataStart : 0);
  } else {
    putBE(out, on ? ((uint32_t(m_m.slibStart) & 0x7FF) | (uint32_t(m_m.slibDataStart) & 0x7FF) << 11 |
                     (uint32_t(m_m.slibEnd) & 0x3FF) << 22)
                  : 0);
  }
  putBE(out, on ? 1 : 0);
  return out;
}

bool ChipModel::goAllowed(uint32_t address) const {
  const Area a = area(address, 4);
  return a == Area::Flash || a == Area::Sram || a == Area::Bank3;
}

}  // namespace kv32sim
