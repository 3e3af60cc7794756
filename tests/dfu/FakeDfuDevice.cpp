#include "FakeDfuDevice.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ChipMemory.h"

namespace dfufake {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kNoDevice = -4, kPipe = -9;
constexpr auto kReenumeration = std::chrono::milliseconds(500);

enum : uint8_t { DNLOAD = 1, UPLOAD = 2, GETSTATUS = 3, CLRSTATUS = 4, GETSTATE = 5, ABORT = 6 };
enum : uint8_t {
  IDLE = 2, DNLOAD_SYNC = 3, DNBUSY = 4, DNLOAD_IDLE = 5, MANIFEST_SYNC = 6, MANIFEST = 7,
  UPLOAD_IDLE = 9, ERROR = 10
};
enum : uint8_t {
  OK = 0, ERR_TARGET = 1, ERR_WRITE = 3, ERR_ERASE = 4, ERR_ADDRESS = 8, ERR_VENDOR = 0x0B,
  ERR_UNKNOWN = 0x0E, ERR_STALLEDPKT = 0x0F
};

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

std::vector<std::unique_ptr<FakeDfuDevice>>& Bus() {
  static std::vector<std::unique_ptr<FakeDfuDevice>> bus;
  if (bus.empty()) bus.emplace_back(new FakeDfuDevice);
  return bus;
}

FakeDfuDevice& Device() { return *Bus().front(); }

bool FakeDfuDevice::setup(const std::string& mapDir, const std::string& device,
                          const std::string& stateFile, std::string& error) {
  kv32sim::ChipProfile profile;
  if (!kv32sim::findChip(mapDir, device, 0x4602, profile, error)) return false;
  uint8_t uid[12];
  for (int i = 0; i < 12; ++i) uid[i] = static_cast<uint8_t>(0x30 + i);
  m_chip.reset(new kv32sim::ChipModel(profile, uid));
  m_stateFile = stateFile;
  if (!stateFile.empty() && access(stateFile.c_str(), F_OK) == 0 &&
      !kv32sim::loadState(m_chip->memory(), profile, stateFile, error))
    return false;
  m_chip->reset();
  faults = Faults();
  absent = m_ran = false;
  m_backAt = Clock::time_point{};
  m_state = IDLE;
  m_status = OK;
  m_pendingBlock = -1;
  m_resetAfterBusy = false;
  reenumerations = transfers = 0;
  ++m_generation;
  return true;
}

bool FakeDfuDevice::present() {
  return m_chip && !absent && !m_ran && Clock::now() >= m_backAt;
}

std::string FakeDfuDevice::identity() const {
  if (!foreignIdentity.empty()) return foreignIdentity;
  if (!faults.identity.empty()) return faults.identity;
  const kv32sim::ChipProfile& p = m_chip->profile();
  char text[128];
  std::snprintf(text, sizeof(text), "KV32 DFU PID=%08X SER=%02X VER=%02X BID=%04X SECT=%u FLASH=%u",
                static_cast<unsigned>(p.pid), p.series & 0xFF, p.version, p.bid, p.sectorSize,
                p.flashKB);
  return text;
}

void FakeDfuDevice::save() {
  std::string error;
  if (!m_stateFile.empty()) kv32sim::saveState(m_chip->memory(), m_chip->profile(), m_stateFile, error);
}

// A reset: gone from the bus for a moment, then back in DFU mode with the
// option bytes loaded. Leaving DFU mode for the program is for ever.
void FakeDfuDevice::vanish(bool forEver) {
  ++m_generation;
  m_chip->reset();
  m_state = IDLE;
  m_status = OK;
  m_pendingBlock = -1;
  m_resetAfterBusy = false;
  if (forEver) m_ran = true;
  m_backAt = Clock::now() + kReenumeration;
  ++reenumerations;
  save();
}

void FakeDfuDevice::release() {
  if (m_chip && m_chip->optionBytesChanged()) vanish(false);
  else if (m_chip) save();
}

std::vector<uint8_t> FakeDfuDevice::commandList() const {
  std::vector<uint8_t> l = {0x00, 0x21, 0x41, 0x92};
  for (uint8_t c : {0x82, 0x63, 0x73, 0xD6, 0xD4})
    if (m_chip->listed(c, false)) l.push_back(c);
  return l;
}

int FakeDfuDevice::stall(uint8_t why) {
  m_state = ERROR;
  m_status = why;
  return kPipe;
}

int FakeDfuDevice::control(unsigned generation, bool in, uint8_t request, uint16_t value,
                           uint8_t* data, uint16_t length) {
  if (!m_chip || generation != m_generation || !present()) return kNoDevice;
  ++transfers;
  if (faults.vanishAfter == 0) {
    faults.vanishAfter = -1;
    absent = true;
    ++m_generation;
    return kNoDevice;
  }
  if (faults.vanishAfter > 0) --faults.vanishAfter;
  switch (request) {
    case GETSTATUS:
      if (!in) return stall(ERR_STALLEDPKT);
      return status(data, length);
    case GETSTATE:
      if (!in || length < 1) return stall(ERR_STALLEDPKT);
      data[0] = m_state;
      return 1;
    case CLRSTATUS:
      m_state = IDLE;
      m_status = OK;
      return 0;
    case ABORT:
      if (m_state == ERROR) return kPipe;
      m_state = IDLE;
      return 0;
    case UPLOAD:
      if (!in) return stall(ERR_STALLEDPKT);
      return upload(value, data, length);
    case DNLOAD:
      if (in || (m_state != IDLE && m_state != DNLOAD_IDLE)) return stall(ERR_STALLEDPKT);
      if (length == 0) {
        m_state = MANIFEST_SYNC;
        return 0;
      }
      m_pending.assign(data, data + length);
      m_pendingBlock = value;
      m_state = DNLOAD_SYNC;
      return length;
    default:
      return stall(ERR_STALLEDPKT);
  }
}

int FakeDfuDevice::status(uint8_t* data, uint16_t length) {
  if (length < 6) return stall(ERR_STALLEDPKT);
  if (m_state == DNLOAD_SYNC) {
    execute();
  } else if (m_state == DNBUSY && !faults.busyForever) {
    if (m_resetAfterBusy) {
      vanish(false);
      return kNoDevice;
    }
    m_state = DNLOAD_IDLE;
  } else if (m_state == MANIFEST_SYNC) {
    if (m_chip->goAllowed(m_pointer)) m_state = MANIFEST;
    else stall(ERR_ADDRESS);
  }
  const uint8_t answer[6] = {m_status, 1, 0, 0, m_state, 0};
  const int n = faults.shortStatus ? 3 : 6;
  std::memcpy(data, answer, n);
  // The program starts once the host has seen the manifestation.
  if (m_state == MANIFEST) vanish(true);
  return n;
}

void FakeDfuDevice::execute() {
  uint8_t result = OK;
  if (m_pendingBlock == 0) {
    result = blockZero(m_pending);
  } else if (m_pendingBlock >= 2) {
    const uint32_t address = m_pointer + (m_pendingBlock - 2) * uint32_t{kTransferSize};
    if (faults.failWrites) result = ERR_WRITE;
    else if (!m_chip->commandAllowed(0x31)) result = ERR_VENDOR;
    else if (!m_chip->write(address, m_pending.data(), static_cast<uint32_t>(m_pending.size())))
      result = ERR_WRITE;
  } else {
    result = ERR_UNKNOWN;
  }
  m_pendingBlock = -1;
  if (result != OK) {
    stall(result);
    return;
  }
  m_state = DNBUSY;
}

uint8_t FakeDfuDevice::blockZero(const std::vector<uint8_t>& c) {
  const kv32sim::ChipProfile& p = m_chip->profile();
  const uint8_t code = c[0];
  auto resets = [&](bool done) -> uint8_t {
    if (!done) return ERR_VENDOR;
    m_resetAfterBusy = true;
    return OK;
  };
  const std::vector<uint8_t> listed = commandList();
  if (std::find(listed.begin(), listed.end(), code) == listed.end()) return ERR_UNKNOWN;
  switch (code) {
    case 0x21:
      if (c.size() != 5) return ERR_UNKNOWN;
      m_pointer = le32(&c[1]);
      return OK;
    case 0x41: {
      if (!m_chip->commandAllowed(0x44)) return ERR_VENDOR;
      if (c.size() == 1) return m_chip->eraseCode(0xFFFF, 0) ? OK : ERR_ERASE;
      if (c.size() != 5) return ERR_UNKNOWN;
      const uint32_t a = le32(&c[1]);
      uint32_t page;
      if (a >= kv32sim::kFlashBase && a < kv32sim::kFlashBase + p.flashKB * 1024u)
        page = (a - kv32sim::kFlashBase) / p.sectorSize;
      else if (a >= kv32sim::kBank3Base && a < kv32sim::kBank3Base + kv32sim::kBank3MaxSize)
        page = kv32sim::kBank3FirstSector + (a - kv32sim::kBank3Base) / kv32sim::kBank3SectorSize;
      else
        return ERR_TARGET;
      return m_chip->eraseSectors({static_cast<uint16_t>(page)}) ? OK : ERR_ERASE;
    }
    case 0x92: return resets(m_chip->accessUnprotect());
    case 0x82: return resets(m_chip->commandAllowed(0x82) && m_chip->accessProtect(1));
    case 0xD6:
      if (c.size() != 2) return ERR_UNKNOWN;
      return resets(m_chip->commandAllowed(0xD6) && m_chip->accessProtect(c[1]));
    case 0x63: {
      if (c.size() < 2 || c.size() != 2u + c[1]) return ERR_UNKNOWN;
      const std::vector<uint8_t> bits(c.begin() + 2, c.end());
      return resets(m_chip->commandAllowed(0x63) && m_chip->eraseProgramProtect(bits));
    }
    case 0x73: return resets(m_chip->commandAllowed(0x73) && m_chip->eraseProgramUnprotect());
    case 0xD4: return resets(true);
    default: return ERR_UNKNOWN;
  }
}

int FakeDfuDevice::upload(uint16_t block, uint8_t* data, uint16_t length) {
  if (m_state != IDLE && m_state != UPLOAD_IDLE) return stall(ERR_STALLEDPKT);
  if (block == 0) {
    const std::vector<uint8_t> l = commandList();
    const uint16_t n = static_cast<uint16_t>(std::min<size_t>(l.size(), length));
    std::memcpy(data, l.data(), n);
    m_state = UPLOAD_IDLE;
    return n;
  }
  if (block == 1) return stall(ERR_STALLEDPKT);
  if (faults.stallUploads) return stall(ERR_STALLEDPKT);
  if (!m_chip->commandAllowed(0x11)) return stall(ERR_VENDOR);
  const uint32_t address = m_pointer + (block - 2) * uint32_t{kTransferSize};
  if (!m_chip->read(address, length, data)) return stall(ERR_ADDRESS);
  m_state = UPLOAD_IDLE;
  if (faults.shortUpload > 0) return std::max(0, length - faults.shortUpload);
  return length + faults.oversizedUpload;
}

}  // namespace dfufake
