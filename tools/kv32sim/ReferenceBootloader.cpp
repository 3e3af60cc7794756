#include "ReferenceBootloader.h"

#include "ChipModel.h"
#include "ChipPort.h"

namespace kv32sim {

void ReferenceBootloader::refuse(const char* what) {
  log("%s: bad check byte, refused", what);
  m_port.sendAck(false);
  m_port.protocolError();
}

bool ReferenceBootloader::addressFrame(uint32_t& address) {
  uint8_t f[5];
  if (!m_port.receive(f, 5)) return false;
  if (xorOf(f, 4) != f[4]) {
    refuse("address frame");
    return false;
  }
  address = be32(f);
  return true;
}

void ReferenceBootloader::serve(uint8_t cmd) {
  if (serveBare(cmd)) return;
  switch (cmd) {
    case 0x11: return read();
    case 0x21: return go();
    case 0x31: return write();
    case 0x43: return erase();
    case 0x44: return eraseExt();
    case 0x63: return eraseProgramProtect();
    case 0x71:
      m_port.sendAck(true);
      m_chip.eraseProgramTempUnprotect();
      m_port.sendAck(true);
      return;
    case 0x91:
      m_port.sendAck(true);
      m_port.sendAck(m_chip.accessTempUnprotect());
      return;
    case 0xAC: return firmwareCrc();
    case 0xB3: return enableBank3();
    case 0xD0: return enableSlib();
    case 0xD1: return disableSlib();
    case 0xD3: {
      m_port.sendAck(true);
      uint8_t f[2];
      if (!m_port.receive(f, 2)) return;
      m_port.sendAck(f[0] == f[1] && m_chip.remap(f[0]));
      return;
    }
    case 0xD6: {
      m_port.sendAck(true);
      uint8_t f[2];
      if (!m_port.receive(f, 2)) return;
      if (f[1] != static_cast<uint8_t>(~f[0])) return refuse("protection level");
      return finishProtection(m_chip.accessProtect(f[0]));
    }
    case 0xFA: {
      m_port.sendAck(true);
      uint8_t f[5];
      static const uint8_t kTool[5] = {0x02, 0x03, 0x56, 0x4B, 0x1C};
      if (!m_port.receive(f, 5)) return;
      m_port.sendAck(std::equal(f, f + 5, kTool));
      return;
    }
    default:
      m_port.sendAck(false);
      m_port.protocolError();
      return;
  }
}

void ReferenceBootloader::read() {
  m_port.sendAck(true);
  uint32_t address = 0;
  if (!addressFrame(address)) return;
  uint8_t probe;
  if (!m_chip.read(address, 1, &probe)) {
    log("READ at %08X: no readable memory", address);
    m_port.sendAck(false);
    return;
  }
  m_port.sendAck(true);
  uint8_t f[2];
  if (!m_port.receive(f, 2)) return;
  if (f[1] != static_cast<uint8_t>(~f[0])) return refuse("READ length");
  const uint32_t n = f[0] + 1u;
  std::vector<uint8_t> data(n);
  if (!m_chip.read(address, n, data.data())) {
    log("READ of %u byte(s) at %08X refused", n, address);
    m_port.sendAck(false);
    return;
  }
  log("READ %u byte(s) at %08X", n, address);
  m_port.sendAck(true);
  m_port.send(data.data(), n);
}

void ReferenceBootloader::go() {
  m_port.sendAck(true);
  uint32_t address = 0;
  if (!addressFrame(address)) return;
  const bool ok = m_chip.goAllowed(address);
  log("GO %08X: %s", address, ok ? "the user program runs, the chip comes back in its bootloader" : "refused");
  m_port.sendAck(ok);
  if (ok) restart();
}

void ReferenceBootloader::write() {
  m_port.sendAck(true);
  uint32_t address = 0;
  if (!addressFrame(address)) return;
  if (!acceptWriteAt(address)) return;
  m_port.sendAck(true);
  uint8_t count = 0;
  if (!m_port.receive(&count, 1)) return;
  std::vector<uint8_t> f(count + 2u);  // data, check byte
  if (!m_port.receive(f.data(), f.size())) return;
  if (xorOf(f.data(), count + 1u, count) != f[count + 1u]) return refuse("WRITE data");
  f.pop_back();
  log("WRITE %zu byte(s) at %08X", f.size(), address);
  finishWrite(address, f);
}

void ReferenceBootloader::erase() {
  m_port.sendAck(true);
  uint8_t count = 0;
  if (!m_port.receive(&count, 1)) return;
  if (count == 0xFF) {  // [FF][00]: everything
    uint8_t x;
    if (!m_port.receive(&x, 1)) return;
    if (x != 0x00) return refuse("global erase");
    return finishErase(0xFFFF, {}, 0);
  }
  std::vector<uint8_t> f(count + 2u);  // one byte per page, check byte
  if (!m_port.receive(f.data(), f.size())) return;
  if (xorOf(f.data(), count + 1u, count) != f[count + 1u]) return refuse("page list");
  finishErase(0, std::vector<uint16_t>(f.begin(), f.end() - 1), 0);
}

void ReferenceBootloader::eraseExt() {
  m_port.sendAck(true);
  uint8_t h[2];
  if (!m_port.receive(h, 2)) return;
  const uint16_t code = static_cast<uint16_t>(h[0] << 8 | h[1]);
  if (code > 0xFEFF) {
    uint32_t blockAddress = 0;
    if (code == 0xFFFB) {
      uint8_t f[5];
      if (!m_port.receive(f, 5)) return;
      if (xorOf(f, 4, xorOf(h, 2)) != f[4]) return refuse("block erase");
      blockAddress = be32(f);
    } else {
      uint8_t x;
      if (!m_port.receive(&x, 1)) return;
      if (x != xorOf(h, 2)) return refuse("special erase");
    }
    return finishErase(code, {}, blockAddress);
  }
  // However long the list, it is taken whole before it is judged, so that
  // none of it is read as commands (at most 65280 pages).
  const uint32_t n = code + 1u;
  std::vector<uint8_t> f(2 * n + 1);
  if (!m_port.receive(f.data(), f.size())) return;
  if (xorOf(f.data(), 2 * n, xorOf(h, 2)) != f[2 * n]) return refuse("page list");
  std::vector<uint16_t> pages(n);
  for (uint32_t i = 0; i < n; ++i) pages[i] = static_cast<uint16_t>(f[2 * i] << 8 | f[2 * i + 1]);
  finishErase(0, pages, 0);
}

void ReferenceBootloader::eraseProgramProtect() {
  m_port.sendAck(true);
  uint8_t count = 0;
  if (!m_port.receive(&count, 1)) return;
  std::vector<uint8_t> f(count + 2u);
  if (!m_port.receive(f.data(), f.size())) return;
  if (xorOf(f.data(), count + 1u, count) != f[count + 1u]) return refuse("protection bits");
  f.pop_back();
  finishProtection(m_chip.eraseProgramProtect(f));
}

void ReferenceBootloader::firmwareCrc() {
  m_port.sendAck(true);
  uint32_t address = 0;
  if (!addressFrame(address)) return;
  m_port.sendAck(true);
  uint8_t f[3];
  if (!m_port.receive(f, 3)) return;
  if (f[2] != static_cast<uint8_t>(~(f[0] ^ f[1]))) return refuse("CRC sector count");
  uint32_t crc = 0;
  const uint32_t sectors = (uint32_t(f[0]) << 8 | f[1]) + 1u;
  if (!m_chip.firmwareCrc(address, sectors, crc)) {
    log("FIRMWARE_CRC of %u sector(s) at %08X refused", sectors, address);
    m_port.sendAck(false);
    return;
  }
  log("FIRMWARE_CRC of %u sector(s) at %08X: %08X", sectors, address, crc);
  m_port.sendAck(true);
  const uint8_t out[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
  m_port.send(out, 4);
}

void ReferenceBootloader::enableBank3() {
  m_port.sendAck(true);
  uint8_t f[10];
  if (!m_port.receive(f, 10)) return;
  if (xorOf(f, 9) != f[9]) return refuse("external bank settings");
  const bool ok = m_chip.enableBank3(f[0], be32(f + 1), be32(f + 5));
  log("ENABLE_BANK3 type %02X size %u FLASH_DA %08X: %s", f[0], be32(f + 1), be32(f + 5), ok ? "done" : "refused");
  m_port.sendAck(ok);
}

void ReferenceBootloader::enableSlib() {
  m_port.sendAck(true);
  uint8_t f[11];
  if (!m_port.receive(f, 11)) return;
  if (xorOf(f, 10) != f[10]) {
    // The status byte position gets the refusal too, so the host never waits.
    log("ENABLE_SLIB: bad check byte");
    m_port.sendAck(false);
    m_port.sendAck(false);
    m_port.protocolError();
    return;
  }
  const uint8_t s = m_chip.enableSlib(be32(f), static_cast<uint16_t>(f[4] << 8 | f[5]),
                                      static_cast<uint16_t>(f[6] << 8 | f[7]), static_cast<uint16_t>(f[8] << 8 | f[9]));
  log("ENABLE_SLIB: status %u", s);
  m_port.send(&s, 1);
  m_port.sendAck(true);
}

void ReferenceBootloader::disableSlib() {
  m_port.sendAck(true);
  uint8_t f[5];
  if (!m_port.receive(f, 5)) return;
  if (xorOf(f, 4) != f[4]) {
    log("DISABLE_SLIB: bad check byte");
    m_port.sendAck(false);
    m_port.sendAck(false);
    m_port.protocolError();
    return;
  }
  const uint8_t s = m_chip.disableSlib(be32(f));
  log("DISABLE_SLIB: status %u", s);
  m_port.send(&s, 1);
  m_port.sendAck(true);
  if (s == 0) restart();
}

}  // namespace kv32sim
