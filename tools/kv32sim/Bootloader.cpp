#include "Bootloader.h"

#include "ChipModel.h"
#include "ChipPort.h"
#include "FaultPlan.h"
#include "SimLog.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <thread>

namespace kv32sim {

uint8_t xorOf(const uint8_t* data, size_t n, uint8_t seed) {
  for (size_t i = 0; i < n; ++i) seed ^= data[i];
  return seed;
}

uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

const char* commandName(uint8_t cmd) {
  switch (cmd) {
    case 0x00: return "GET";
    case 0x01: return "GET_VER_ROPS";
    case 0x02: return "GET_ID";
    case 0x03: return "SET_SPEED";
    case 0x11: return "READ";
    case 0x21: return "GO";
    case 0x31: return "WRITE";
    case 0x43: return "ERASE";
    case 0x44: return "ERASE_EXT";
    case 0x63: return "ERASEPROGRAM_PROTECT";
    case 0x71: return "ERASEPROGRAM_TEMP_UNPROTECT";
    case 0x73: return "ERASEPROGRAM_PERM_UNPROTECT";
    case 0x82: return "ACCESS_PROTECT";
    case 0x91: return "ACCESS_TEMP_UNPROTECT";
    case 0x92: return "ACCESS_PERM_UNPROTECT";
    case 0xAC: return "FIRMWARE_CRC";
    case 0xB3: return "ENABLE_BANK3";
    case 0xD0: return "ENABLE_SLIB";
    case 0xD1: return "DISABLE_SLIB";
    case 0xD2: return "GET_SLIB_STATUS";
    case 0xD3: return "REMAP_ENABLE";
    case 0xD4: return "RESET_MCU";
    case 0xD6: return "ACCESS_LEVEL_PROTECT";
    case 0xFA: return "ISP_TOOL";
    default: return "unknown";
  }
}

Bootloader::Bootloader(ChipModel& chip, ChipPort& port, FaultPlan* faults, SimLog* log, ChipTiming timing)
    : m_chip(chip), m_port(port), m_faults(faults), m_log(log), m_timing(timing) {
  // A host that starts over after writing option bytes finds them in force,
  // even if its close of the terminal went unseen.
  m_port.setSessionHook([this] {
    if (!m_chip.optionBytesChanged()) return false;
    restart();
    return true;
  });
}

void Bootloader::log(const char* fmt, ...) const {
  if (!m_log || !m_log->enabled()) return;
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  m_log->note("%s", buf);
}

void Bootloader::run() {
  for (;;) {
    uint8_t cmd = 0;
    const ChipPort::Next next = m_port.nextCommand(cmd);
    if (next == ChipPort::Next::Stop) return;
    if (next == ChipPort::Next::Hangup) {
      // Closing the line after programming option bytes stands for the reset
      // that loads them.
      if (m_chip.optionBytesChanged()) restart();
      continue;
    }
    log("command %02X %s", cmd, commandName(cmd));
    const auto action = m_faults ? m_faults->command(cmd) : FaultPlan::CommandAction::Serve;
    if (action == FaultPlan::CommandAction::Stall) {
      m_port.stall();
      continue;
    }
    // A refusal at the first acknowledge: the host sends nothing more for
    // this command.
    if (action == FaultPlan::CommandAction::Nack) {
      m_port.sendAck(false);
      continue;
    }
    if (!m_chip.listed(cmd, can())) {
      log("command %02X is not in this bootloader's list: refused", cmd);
      m_port.sendAck(false);
      continue;
    }
    if (!m_chip.commandAllowed(cmd)) {
      log("command %02X refused: access protection level %d", cmd, m_chip.accessLevel());
      m_port.sendAck(false);
      continue;
    }
    serve(cmd);
  }
}

void Bootloader::restart() {
  m_chip.reset();
  m_port.chipReset();
}

void Bootloader::getBlock(std::vector<uint8_t>& block) const {
  const auto codes = m_chip.commandList(can());
  block.clear();
  block.push_back(static_cast<uint8_t>(codes.size()));
  block.push_back(m_chip.profile().version);
  block.insert(block.end(), codes.begin(), codes.end());
}

void Bootloader::idBlock(std::vector<uint8_t>& block) const {
  const std::vector<uint8_t> id = m_chip.idAnswer();
  block.assign(1, static_cast<uint8_t>(id.size() - 1));
  block.insert(block.end(), id.begin(), id.end());
}

void Bootloader::finishErase(uint16_t code, const std::vector<uint16_t>& pages, uint32_t blockAddress) {
  const bool ok = pages.empty() ? m_chip.eraseCode(code, blockAddress) : m_chip.eraseSectors(pages);
  if (pages.empty())
    log("erase code %04X%s: %s", code, code == 0xFFFB ? " (block)" : "", ok ? "done" : "refused");
  else
    log("erase of %zu page(s) from %04X: %s", pages.size(), pages[0], ok ? "done" : "refused");
  if (ok && m_timing.eraseMsPerSector)
    m_port.busyFor(std::chrono::milliseconds(uint64_t(m_timing.eraseMsPerSector) * m_chip.lastEraseSectors()));
  m_port.sendAck(ok);
}

void Bootloader::finishWrite(uint32_t address, const std::vector<uint8_t>& data) {
  const bool ok = m_chip.write(address, data.data(), static_cast<uint32_t>(data.size()));
  if (ok && m_timing.writeUsPerByte)
    m_port.busyFor(std::chrono::microseconds(uint64_t(m_timing.writeUsPerByte) * data.size()));
  m_port.sendAck(ok);
}

void Bootloader::finishProtection(bool ok) {
  m_port.sendAck(ok);
  if (ok) restart();
}

bool Bootloader::acceptWriteAt(uint32_t address) {
  uint8_t probe;
  if (m_chip.read(address, 1, &probe) || m_chip.goAllowed(address)) return true;
  log("WRITE at %08X: no memory there", address);
  m_port.sendAck(false);
  return false;
}

bool Bootloader::serveBare(uint8_t cmd) {
  std::vector<uint8_t> b;
  switch (cmd) {
    case 0x00:
      m_port.sendAck(true);
      getBlock(b);
      m_port.sendBlock(b.data(), b.size());
      m_port.sendAck(true);
      return true;
    case 0x01: {
      uint8_t v[3];
      m_chip.versionAnswer(v);
      m_port.sendAck(true);
      m_port.send(v, 3);
      m_port.sendAck(true);
      return true;
    }
    case 0x02:
      m_port.sendAck(true);
      idBlock(b);
      m_port.send(b.data(), b.size());
      m_port.sendAck(true);
      return true;
    case 0x73:
      m_port.sendAck(true);
      finishProtection(m_chip.eraseProgramUnprotect());
      return true;
    case 0x82:
      m_port.sendAck(true);
      finishProtection(m_chip.accessProtect(1));
      return true;
    case 0x92:
      m_port.sendAck(true);
      finishProtection(m_chip.accessUnprotect());
      return true;
    case 0xD2:
      m_port.sendAck(true);
      b = m_chip.slibStatus();
      m_port.send(b.data(), b.size());
      m_port.sendAck(true);
      return true;
    case 0xD4:
      m_port.sendAck(true);
      m_port.sendAck(true);
      restart();
      return true;
    default:
      return false;
  }
}

}  // namespace kv32sim
