#include "CanBootloader.h"

#include "ChipModel.h"
#include "ChipPort.h"

namespace kv32sim {

bool canOpensBare(uint8_t cmd) {
  switch (cmd) {
    case 0x00: case 0x01: case 0x02: case 0x73: case 0x82: case 0x92: case 0xD2: case 0xD4:
      return true;
    default:
      return false;
  }
}

void CanBootloader::serve(uint8_t cmd) {
  if (canOpensBare(cmd) != m_port.bareFrame()) {
    log("command %02X opened with the wrong frame kind: refused", cmd);
    m_port.sendAck(false);
    m_port.protocolError();
    return;
  }
  if (serveBare(cmd)) return;
  uint8_t f[8];
  switch (cmd) {
    case 0x03:
      // [speed code][0]; the bridge is then reconfigured and the chip
      // acknowledges again at the new speed.
      if (!m_port.receive(f, 2)) return;
      log("SET_SPEED code %u", f[0]);
      m_port.sendAck(f[1] == 0);
      if (f[1] == 0) m_port.sendAck(true);
      return;
    case 0x11: return read();
    case 0x21: {
      if (!m_port.receive(f, 4)) return;
      const bool ok = m_chip.goAllowed(be32(f));
      log("GO %08X: %s", be32(f), ok ? "done" : "refused");
      m_port.sendAck(ok);
      if (ok) restart();
      return;
    }
    case 0x31: return write();
    case 0x44: return eraseExt();
    case 0x63: {
      if (!m_port.receive(f, 1)) return;
      m_port.sendAck(true);
      std::vector<uint8_t> bits(f[0] + 1u);
      if (!m_port.receive(bits.data(), bits.size())) return;
      return finishProtection(m_chip.eraseProgramProtect(bits));
    }
    case 0xAC: {
      if (!m_port.receive(f, 6)) return;
      uint32_t crc = 0;
      const uint32_t sectors = (uint32_t(f[4]) << 8 | f[5]) + 1u;
      if (!m_chip.firmwareCrc(be32(f), sectors, crc)) {
        log("FIRMWARE_CRC of %u sector(s) at %08X refused", sectors, be32(f));
        m_port.sendAck(false);
        return;
      }
      m_port.sendAck(true);
      const uint8_t out[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
      m_port.send(out, 4);
      return;
    }
    case 0xD0: {
      if (!m_port.receive(f, 4)) return;
      m_port.sendAck(true);
      uint8_t r[6];
      if (!m_port.receive(r, 6)) return;
      const uint8_t s = m_chip.enableSlib(be32(f), static_cast<uint16_t>(r[0] << 8 | r[1]),
                                          static_cast<uint16_t>(r[2] << 8 | r[3]), static_cast<uint16_t>(r[4] << 8 | r[5]));
      log("ENABLE_SLIB: status %u", s);
      m_port.send(&s, 1);
      m_port.sendAck(true);
      return;
    }
    case 0xD1: {
      if (!m_port.receive(f, 4)) return;
      m_port.sendAck(true);
      const uint8_t s = m_chip.disableSlib(be32(f));
      log("DISABLE_SLIB: status %u", s);
      m_port.send(&s, 1);
      m_port.sendAck(true);
      if (s == 0) restart();
      return;
    }
    case 0xD3:
      if (!m_port.receive(f, 2)) return;
      m_port.sendAck(f[0] == f[1] && m_chip.remap(f[0]));
      return;
    case 0xD6:
      if (!m_port.receive(f, 2)) return;
      if (f[1] != static_cast<uint8_t>(~f[0])) {
        m_port.sendAck(false);
        return;
      }
      return finishProtection(m_chip.accessProtect(f[0]));
    default:
      m_port.sendAck(false);
      m_port.protocolError();
      return;
  }
}

void CanBootloader::read() {
  uint8_t f[5];
  if (!m_port.receive(f, 5)) return;
  const uint32_t n = f[4] + 1u;
  std::vector<uint8_t> data(n);
  if (!m_chip.read(be32(f), n, data.data())) {
    log("READ of %u byte(s) at %08X refused", n, be32(f));
    m_port.sendAck(false);
    return;
  }
  log("READ %u byte(s) at %08X", n, be32(f));
  m_port.sendAck(true);
  m_port.send(data.data(), n);
}

void CanBootloader::write() {
  uint8_t f[5];
  if (!m_port.receive(f, 5)) return;
  const uint32_t address = be32(f);
  if (!acceptWriteAt(address)) return;
  m_port.sendAck(true);
  std::vector<uint8_t> data(f[4] + 1u);
  if (!m_port.receive(data.data(), data.size())) return;
  log("WRITE %zu byte(s) at %08X", data.size(), address);
  finishWrite(address, data);
}

void CanBootloader::eraseExt() {
  uint8_t h[2];
  if (!m_port.receive(h, 2)) return;
  const uint16_t code = static_cast<uint16_t>(h[0] << 8 | h[1]);
  if (code > 0xFEFF) {
    m_port.sendAck(true);
    // No block address travels on CAN: a block erase cannot be served.
    if (code == 0xFFFB) {
      log("block erase without an address: refused");
      m_port.sendAck(false);
      return;
    }
    return finishErase(code, {}, 0);
  }
  const uint32_t n = code + 1u;
  m_port.sendAck(true);
  std::vector<uint8_t> f(2 * n);
  if (!m_port.receive(f.data(), f.size())) return;
  std::vector<uint16_t> pages(n);
  for (uint32_t i = 0; i < n; ++i) pages[i] = static_cast<uint16_t>(f[2 * i] << 8 | f[2 * i + 1]);
  finishErase(0, pages, 0);
}

}  // namespace kv32sim
