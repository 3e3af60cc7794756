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

enum : uint8_t { DETACH = 0, DNLOAD = 1, UPLOAD = 2, GETSTATUS = 3, CLRSTATUS = 4, GETSTATE = 5, ABORT = 6 };
enum : uint8_t {
  IDLE = 2, DNLOAD_SYNC = 3, DNBUSY = 4, DNLOAD_IDLE = 5, MANIFEST_SYNC = 6, MANIFEST = 7,
  MANIFEST_WAIT_RESET = 8, UPLOAD_IDLE = 9, ERROR = 10
};
enum : uint8_t {
  OK = 0, ERR_TARGET = 1, ERR_WRITE = 3, ERR_ERASE = 4, ERR_ADDRESS = 8, ERR_VENDOR = 0x0B,
  ERR_UNKNOWN = 0x0E, ERR_STALLEDPKT = 0x0F
};

unsigned g_stamps = 0;

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

FakeDfuDevice::FakeDfuDevice() : m_stamp(++g_stamps) {}

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
  polls = PollTimes();
  pollScript.clear();
  attributes = kDefaultAttributes;
  listsResetCommand = comesBack = true;
  absent = m_ran = m_manifested = false;
  m_backAt = m_busyUntil = Clock::time_point{};
  m_state = IDLE;
  m_status = OK;
  m_pendingBlock = -1;
  m_phases.clear();
  m_resetAfterBusy = false;
  reenumerations = transfers = earlyRequests = 0;
  counts = Counts();
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
// option bytes loaded, enumerated after the devices that stayed. Leaving
// DFU mode for the program is for ever.
void FakeDfuDevice::vanish(bool forEver) {
  ++m_generation;
  m_chip->reset();
  m_state = IDLE;
  m_status = OK;
  m_pendingBlock = -1;
  m_phases.clear();
  m_resetAfterBusy = m_manifested = false;
  if (forEver) m_ran = true;
  if (!comesBack) absent = true;
  m_backAt = Clock::now() + kReenumeration;
  m_stamp = ++g_stamps;
  ++reenumerations;
  save();
}

void FakeDfuDevice::release() {
  if (m_chip) save();
}

void FakeDfuDevice::usbReset() {
  if (m_chip && present()) vanish(m_manifested);
}

std::vector<uint8_t> FakeDfuDevice::commandList() const {
  std::vector<uint8_t> l = {0x00, 0x21, 0x41, 0x92};
  for (uint8_t c : {0x82, 0x63, 0x73, 0xD6, 0xD4})
    if (m_chip->listed(c, false) && (c != 0xD4 || listsResetCommand)) l.push_back(c);
  return l;
}

int FakeDfuDevice::stall(uint8_t why) {
  m_state = ERROR;
  m_status = why;
  return kPipe;
}

void FakeDfuDevice::count(uint8_t request) {
  ++transfers;
  switch (request) {
    case DETACH: ++counts.detach; break;
    case DNLOAD: ++counts.dnload; break;
    case UPLOAD: ++counts.upload; break;
    case GETSTATUS: ++counts.getstatus; break;
    case CLRSTATUS: ++counts.clrstatus; break;
    case GETSTATE: ++counts.getstate; break;
    case ABORT: ++counts.abort; break;
    default: break;
  }
}

void FakeDfuDevice::busy(uint32_t pollMs) {
  m_state = DNBUSY;
  m_busyUntil = Clock::now() + std::chrono::milliseconds(pollMs);
}

int FakeDfuDevice::control(unsigned generation, bool in, uint8_t request, uint16_t value,
                           uint8_t* data, uint16_t length) {
  if (!m_chip || generation != m_generation || !present()) return kNoDevice;
  count(request);
  if (faults.vanishAfter == 0) {
    faults.vanishAfter = -1;
    absent = true;
    ++m_generation;
    return kNoDevice;
  }
  if (faults.vanishAfter > 0) --faults.vanishAfter;
  // A busy device takes no request before the time it announced; then its
  // busy phase (or the manifestation) is over.
  if (m_state == DNBUSY || m_state == MANIFEST) {
    if (Clock::now() < m_busyUntil) {
      ++earlyRequests;
      return stall(ERR_STALLEDPKT);
    }
    if (m_state == DNBUSY) m_state = DNLOAD_SYNC;
    else m_state = (attributes & kAttrTolerant) ? MANIFEST_SYNC : MANIFEST_WAIT_RESET;
  }
  if (m_state == MANIFEST_WAIT_RESET) return kPipe;  // answers nothing until a USB reset
  switch (request) {
    case GETSTATUS:
      if (!in) return stall(ERR_STALLEDPKT);
      return status(data, length);
    case GETSTATE:
      if (!in || length < 1) return stall(ERR_STALLEDPKT);
      data[0] = m_state;
      return 1;
    case CLRSTATUS:
      if (m_state != ERROR) return stall(ERR_STALLEDPKT);
      m_state = IDLE;
      m_status = OK;
      return 0;
    case ABORT:
      if (m_state != IDLE && m_state != DNLOAD_IDLE && m_state != UPLOAD_IDLE) return stall(ERR_STALLEDPKT);
      m_state = IDLE;
      return 0;
    case DETACH:
      if (m_state != IDLE) return stall(ERR_STALLEDPKT);
      if (attributes & 0x08) vanish(false);  // it detaches (restarts) by itself
      return 0;
    case UPLOAD:
      if (!in || (m_state != IDLE && m_state != UPLOAD_IDLE)) return stall(ERR_STALLEDPKT);
      return upload(value, data, length);
    case DNLOAD:
      if (in) return stall(ERR_STALLEDPKT);
      if (length == 0) {  // the end of the download: manifestation
        if (m_state != DNLOAD_IDLE) return stall(ERR_STALLEDPKT);
        m_state = MANIFEST_SYNC;
        return 0;
      }
      if (m_state != IDLE && m_state != DNLOAD_IDLE) return stall(ERR_STALLEDPKT);
      m_pending.assign(data, data + length);
      m_pendingBlock = value;
      m_state = DNLOAD_SYNC;
      return length;
    default:
      return stall(ERR_STALLEDPKT);
  }
}

int FakeDfuDevice::answer(uint8_t* data, uint16_t length, uint32_t pollMs) {
  const uint8_t a[6] = {m_status, static_cast<uint8_t>(pollMs), static_cast<uint8_t>(pollMs >> 8),
                        static_cast<uint8_t>(pollMs >> 16), m_state, 0};
  const int n = faults.shortStatus ? 3 : 6;
  std::memcpy(data, a, static_cast<size_t>(std::min<int>(n, length)));
  return n;
}

int FakeDfuDevice::status(uint8_t* data, uint16_t length) {
  if (length < 6) return stall(ERR_STALLEDPKT);
  uint32_t poll = 0;
  if (m_state == DNLOAD_SYNC) {
    if (m_pendingBlock >= 0) {  // a new block: the device takes it on now
      uint32_t work = 0;
      const uint8_t result = execute(&work);
      m_pendingBlock = -1;
      if (result != OK) {
        stall(result);
        return answer(data, length, 0);
      }
      if (work > 0) {
        if (pollScript.empty()) m_phases = {work};
        else m_phases.swap(pollScript);
        pollScript.clear();
      }
    }
    if (faults.busyForever) {
      busy(0);
    } else if (!m_phases.empty()) {
      poll = m_phases.front();
      m_phases.pop_front();
      busy(poll);
    } else if (m_resetAfterBusy) {
      vanish(false);
      return kNoDevice;
    } else {
      m_state = DNLOAD_IDLE;
    }
  } else if (m_state == MANIFEST_SYNC) {
    if (m_manifested) {
      m_state = IDLE;  // tolerant: back after manifesting
    } else if (!m_chip->goAllowed(m_pointer)) {
      stall(ERR_ADDRESS);
    } else {
      poll = polls.manifest;
      m_manifested = true;
      m_state = MANIFEST;
      m_busyUntil = Clock::now() + std::chrono::milliseconds(poll);
    }
  }
  return answer(data, length, poll);
}

uint8_t FakeDfuDevice::execute(uint32_t* pollMs) {
  if (m_pendingBlock == 0) return blockZero(m_pending, pollMs);
  if (m_pendingBlock < 2) return ERR_UNKNOWN;
  const uint32_t address = m_pointer + (m_pendingBlock - 2) * uint32_t{kTransferSize};
  if (faults.failWrites) return ERR_WRITE;
  if (!m_chip->commandAllowed(0x31)) return ERR_VENDOR;
  if (!m_chip->write(address, m_pending.data(), static_cast<uint32_t>(m_pending.size()))) return ERR_WRITE;
  *pollMs = polls.write;
  return OK;
}

uint8_t FakeDfuDevice::blockZero(const std::vector<uint8_t>& c, uint32_t* pollMs) {
  const kv32sim::ChipProfile& p = m_chip->profile();
  const uint8_t code = c[0];
  auto resets = [&](bool done) -> uint8_t {
    if (!done) return ERR_VENDOR;
    m_resetAfterBusy = true;
    *pollMs = polls.command;
    return OK;
  };
  const std::vector<uint8_t> listed = commandList();
  if (std::find(listed.begin(), listed.end(), code) == listed.end()) return ERR_UNKNOWN;
  switch (code) {
    case 0x21:  // the pointer is set at once: no busy phase
      if (c.size() != 5) return ERR_UNKNOWN;
      m_pointer = le32(&c[1]);
      return OK;
    case 0x41: {
      if (!m_chip->commandAllowed(0x44)) return ERR_VENDOR;
      if (c.size() == 1) {
        *pollMs = polls.massErase;
        return m_chip->eraseCode(0xFFFF, 0) ? OK : ERR_ERASE;
      }
      if (c.size() != 5) return ERR_UNKNOWN;
      const uint32_t a = le32(&c[1]);
      uint32_t page;
      if (a >= kv32sim::kFlashBase && a < kv32sim::kFlashBase + p.flashKB * 1024u)
        page = (a - kv32sim::kFlashBase) / p.sectorSize;
      else if (a >= kv32sim::kBank3Base && a < kv32sim::kBank3Base + kv32sim::kBank3MaxSize)
        page = kv32sim::kBank3FirstSector + (a - kv32sim::kBank3Base) / kv32sim::kBank3SectorSize;
      else
        return ERR_TARGET;
      *pollMs = polls.pageErase;
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
  if (block == 0) {
    const std::vector<uint8_t> l = commandList();
    const uint16_t n = static_cast<uint16_t>(std::min<size_t>(l.size(), length));
    std::memcpy(data, l.data(), n);
    m_state = n < length ? IDLE : UPLOAD_IDLE;  // a short frame ends the upload
    return n;
  }
  if (block == 1) return stall(ERR_STALLEDPKT);
  if (faults.stallUploads) return stall(ERR_STALLEDPKT);
  if (!m_chip->commandAllowed(0x11)) return stall(ERR_VENDOR);
  const uint32_t address = m_pointer + (block - 2) * uint32_t{kTransferSize};
  if (!m_chip->read(address, length, data)) return stall(ERR_ADDRESS);
  m_state = UPLOAD_IDLE;
  if (faults.shortUpload > 0) {
    m_state = IDLE;
    return std::max(0, length - faults.shortUpload);
  }
  return length + faults.oversizedUpload;
}

}  // namespace dfufake
