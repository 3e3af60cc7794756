#include "TestHosts.h"

#include <algorithm>

namespace kvtest {

uint8_t xorOf(const Bytes& b, size_t from, size_t to) {
  uint8_t x = 0;
  for (size_t i = from; i < std::min(to, b.size()); ++i) x ^= b[i];
  return x;
}

namespace {

constexpr uint8_t ACK = 0x79, NACK = 0x1F;

Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// How a reference-form host moves byte strings: USART directly, I2C and SPI
// through bridge frames.
class RefHost : public BootHost {
 public:
  using BootHost::BootHost;
  virtual bool sendBytes(const Bytes& b) = 0;
  virtual bool readBytes(size_t n, Bytes& out) = 0;
  virtual int readAck() = 0;  // ACK, NACK, another byte or -1
  virtual bool readBlock(Bytes& out) = 0;
  virtual Bytes commandBytes(uint8_t c) { return {c, uint8_t(c ^ 0xFF)}; }

  Res command(uint8_t c) {
    if (!sendBytes(commandBytes(c))) return kLinkError;
    const int a = readAck();
    return a == ACK ? kOk : a == NACK ? kRefusedFirst : kLinkError;
  }
  Res later() {
    const int a = readAck();
    return a == ACK ? kOk : a == NACK ? kRefusedLater : kLinkError;
  }
  Res sendAndAck(const Bytes& b) { return sendBytes(b) ? later() : kLinkError; }
  Res addressed(uint8_t c, uint32_t address) {
    Res r = command(c);
    if (r != kOk) return r;
    Bytes f = be32(address);
    f.push_back(xorOf(f));
    return sendAndAck(f);
  }

  Res get(Bytes& codes, uint8_t& version) override {
    Res r = command(0x00);
    if (r != kOk) return r;
    Bytes b;
    if (!readBlock(b) || b.size() < 2 || b.size() != b[0] + 2u) return kLinkError;
    version = b[1];
    codes.assign(b.begin() + 2, b.end());
    return later();
  }
  Res getId(Bytes& id) override {
    Res r = command(0x02);
    if (r != kOk) return r;
    Bytes n;
    if (!readBytes(1, n) || !readBytes(n[0] + 1u, id)) return kLinkError;
    return later();
  }
  Res getVersion(Bytes& v) override {
    Res r = command(0x01);
    if (r != kOk) return r;
    if (!readBytes(3, v)) return kLinkError;
    return later();
  }
  Res read(uint32_t address, size_t n, Bytes& out) override {
    Res r = addressed(0x11, address);
    if (r != kOk) return r;
    r = sendAndAck({uint8_t(n - 1), uint8_t(~(n - 1))});
    if (r != kOk) return r;
    return readBytes(n, out) ? kOk : kLinkError;
  }
  Res write(uint32_t address, const Bytes& data) override {
    Res r = addressed(0x31, address);
    if (r != kOk) return r;
    Bytes f = cat({uint8_t(data.size() - 1)}, data);
    f.push_back(xorOf(f));
    return sendAndAck(f);
  }
  Res erasePages(const std::vector<uint16_t>& pages) override {
    Res r = command(0x44);
    if (r != kOk) return r;
    Bytes f{uint8_t((pages.size() - 1) >> 8), uint8_t(pages.size() - 1)};
    for (uint16_t p : pages) f.insert(f.end(), {uint8_t(p >> 8), uint8_t(p)});
    f.push_back(xorOf(f));
    return sendAndAck(f);
  }
  Res eraseCode(uint16_t code) override {
    Res r = command(0x44);
    if (r != kOk) return r;
    Bytes f{uint8_t(code >> 8), uint8_t(code)};
    f.push_back(xorOf(f));
    return sendAndAck(f);
  }
  Res twoAck(uint8_t cmd) override {
    Res r = command(cmd);
    return r != kOk ? r : later();
  }
  Res protectBits(const Bytes& bits) override {
    Res r = command(0x63);
    if (r != kOk) return r;
    Bytes f = cat({uint8_t(bits.size() - 1)}, bits);
    f.push_back(xorOf(f));
    return sendAndAck(f);
  }
  Res crc(uint32_t address, uint16_t sectors, uint32_t& value) override {
    Res r = addressed(0xAC, address);
    if (r != kOk) return r;
    const uint16_t m = sectors - 1;
    r = sendAndAck({uint8_t(m >> 8), uint8_t(m), uint8_t(~((m >> 8) ^ (m & 0xFF)))});
    if (r != kOk) return r;
    Bytes b;
    if (!readBytes(4, b)) return kLinkError;
    value = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    return kOk;
  }
  Res protectLevel(uint8_t level) override {
    Res r = command(0xD6);
    return r != kOk ? r : sendAndAck({level, uint8_t(~level)});
  }
  Res slibStatus(Bytes& status) override {
    Res r = command(0xD2);
    if (r != kOk) return r;
    if (!readBytes(12, status)) return kLinkError;
    return later();
  }
};

class UsartHost : public RefHost {
 public:
  using RefHost::RefHost;
  bool connect() override {
    m_line.send({0x7F});
    const Bytes a = m_line.recv(1);
    return a.size() == 1 && (a[0] == ACK || a[0] == NACK);
  }
  bool sendBytes(const Bytes& b) override { return m_line.send(b); }
  bool readBytes(size_t n, Bytes& out) override {
    out = m_line.recv(n);
    return out.size() == n;
  }
  int readAck() override {
    const Bytes a = m_line.recv(1);
    return a.empty() ? -1 : a[0];
  }
  bool readBlock(Bytes& out) override {
    Bytes n;
    if (!readBytes(1, n)) return false;
    Bytes rest;
    if (!readBytes(n[0] + 1u, rest)) return false;
    out = cat(n, rest);
    return true;
  }
};

// I2C and SPI bridges share the frame shapes, with other sub-commands.
class BridgeHost : public RefHost {
 public:
  struct Codes { uint8_t mwStart, mwChunk, mwEnd, write, mrStart, mrChunk, read, var; };
  BridgeHost(TestLine& line, Codes c) : RefHost(line), m_c(c) {}
  bool status(const Bytes& frame) {
    m_line.send(frame);
    const Bytes a = m_line.recv(2);
    return a == Bytes{0xBF, 0xF1};
  }
  bool sendBytes(const Bytes& b) override {
    if (b.size() <= 60) return status(cat({0xBF, m_c.write, 0x00, uint8_t(b.size())}, b));
    if (!status({0xBF, m_c.mwStart, 0x00, uint8_t(b.size())})) return false;
    for (size_t i = 0; i < b.size(); i += 60) {
      const size_t k = std::min<size_t>(60, b.size() - i);
      if (!status(cat({0xBF, m_c.mwChunk, 0x00, uint8_t(k)}, Bytes(b.begin() + i, b.begin() + i + k)))) return false;
    }
    return status({0xBF, m_c.mwEnd});
  }
  bool readBytes(size_t n, Bytes& out) override {
    out.clear();
    if (n <= 60) {
      m_line.send({0xBF, m_c.read, 0x00, uint8_t(n)});
      const Bytes a = m_line.recv(n + 4);
      if (a.size() != n + 4 || a[0] != 0xBF || a[1] != m_c.read) return false;
      out.assign(a.begin() + 4, a.end());
      return true;
    }
    if (!status({0xBF, m_c.mrStart, 0x00, uint8_t(n)})) return false;
    for (size_t i = 0; i < n; i += 60) {
      const size_t k = std::min<size_t>(60, n - i);
      m_line.send({0xBF, m_c.mrChunk, 0x00, uint8_t(k)});
      const Bytes a = m_line.recv(k + 4);
      if (a.size() != k + 4 || a[1] != m_c.mrChunk) return false;
      out.insert(out.end(), a.begin() + 4, a.end());
    }
    return true;
  }
  bool readBlock(Bytes& out) override {
    m_line.send({0xBF, m_c.var});
    const Bytes h = m_line.recv(3);
    if (h.size() != 3 || h[1] != m_c.var) return false;
    out = m_line.recv(h[2]);
    return out.size() == h[2];
  }

 protected:
  Codes m_c;
};

class I2cHost : public BridgeHost {
 public:
  explicit I2cHost(TestLine& line) : BridgeHost(line, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}) {}
  bool connect() override {
    m_line.send({0xB0, 0x29, 0x08, 0x00, 0x00, 0x3C, 0x00, 0x06, 0x1A, 0x80, 0x00});
    return m_line.recv(2) == Bytes{0xB0, 0xF1};
  }
  int readAck() override {
    Bytes b;
    return readBytes(1, b) ? b[0] : -1;
  }
};

class SpiHost : public BridgeHost {
 public:
  explicit SpiHost(TestLine& line) : BridgeHost(line, {0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13}) {}
  Bytes writeRead(uint8_t b) {
    m_line.send({0xBF, 0x14, 0x00, 0x01, b});
    return m_line.recv(5);
  }
  bool connect() override {
    m_line.send({0xB0, 0x2B, 0x05, 0x01, 0x00, 0x02, 0x49, 0xF0});
    if (m_line.recv(2) != Bytes{0xB0, 0xF1}) return false;
    const Bytes s = writeRead(0x5A);
    return s.size() == 5 && s[4] == 0xA5 && readAck() == ACK;
  }
  // Acknowledge handshake: 0x00, poll until ACK or NACK, then 0x79 -> 0x86.
  int readAck() override {
    if (!status({0xBF, 0x0F, 0x00, 0x01, 0x00})) return -1;
    int polled = -1;
    for (int i = 0; i < 500 && polled != ACK && polled != NACK; ++i) {
      m_line.send({0xBF, 0x12, 0x00, 0x01});
      const Bytes a = m_line.recv(5);
      if (a.size() != 5) return -1;
      polled = a[4];
    }
    const Bytes h = writeRead(ACK);
    if (polled == ACK && (h.size() != 5 || h[4] != 0x86)) return -1;
    return polled;
  }
  Bytes commandBytes(uint8_t c) override { return {0x5A, c, uint8_t(c ^ 0xFF)}; }
};

class CanHost : public BootHost {
 public:
  using BootHost::BootHost;
  bool connect() override {
    m_line.send({0xB0, 0x29, 0x03, 0x01, 0x02, 0x00});
    return m_line.recv(2) == Bytes{0xB0, 0xF1};
  }
  bool writeData(uint8_t c, const Bytes& d) {
    if (d.empty()) return frame({0xBF, 0x08, c, 0x00});
    for (size_t i = 0; i < d.size(); i += 8) {
      const size_t k = std::min<size_t>(8, d.size() - i);
      if (!frame(cat({0xBF, 0x08, c, uint8_t(k)}, Bytes(d.begin() + i, d.begin() + i + k)))) return false;
    }
    return true;
  }
  bool frame(const Bytes& f) {
    m_line.send(f);
    return m_line.recv(2) == Bytes{0xBF, 0xF1};
  }
  bool readData(uint8_t c, size_t n, Bytes& out) {
    out.clear();
    for (size_t i = 0; i < n; i += 8) {
      const size_t k = std::min<size_t>(8, n - i);
      m_line.send({0xBF, 0x09, c, uint8_t(k)});
      const Bytes a = m_line.recv(k + 4);
      if (a.size() != k + 4 || a[1] != 0x09) return false;
      out.insert(out.end(), a.begin() + 4, a.end());
    }
    return true;
  }
  int ack(uint8_t c) {
    Bytes b;
    return readData(c, 1, b) ? b[0] : -1;
  }
  Res first(uint8_t c) {
    const int a = ack(c);
    return a == ACK ? kOk : a == NACK ? kRefusedFirst : kLinkError;
  }
  Res later(uint8_t c) {
    const int a = ack(c);
    return a == ACK ? kOk : a == NACK ? kRefusedLater : kLinkError;
  }
  Res bare(uint8_t c) { return writeData(c, {}) ? first(c) : kLinkError; }

  Res get(Bytes& codes, uint8_t& version) override {
    Res r = bare(0x00);
    if (r != kOk) return r;
    m_line.send({0xBF, 0x0A, 0x00, 0x00});
    const Bytes h = m_line.recv(4);
    if (h.size() != 4 || h[1] != 0x0A) return kLinkError;
    const Bytes b = m_line.recv(h[3]);
    if (b.size() != h[3] || b.size() < 3 || b.size() != b[0] + 3u) return kLinkError;
    version = b[1];
    codes.assign(b.begin() + 2, b.end() - 1);
    return b.back() == ACK ? kOk : kRefusedLater;
  }
  Res getId(Bytes& id) override {
    Res r = bare(0x02);
    if (r != kOk) return r;
    Bytes b;
    if (!readData(0x02, 6, b) || b[0] != 4) return kLinkError;
    id.assign(b.begin() + 1, b.end());
    return later(0x02);
  }
  Res getVersion(Bytes& v) override {
    Res r = bare(0x01);
    if (r != kOk) return r;
    if (!readData(0x01, 3, v)) return kLinkError;
    return later(0x01);
  }
  Res read(uint32_t address, size_t n, Bytes& out) override {
    if (!writeData(0x11, cat(be32(address), {uint8_t(n - 1)}))) return kLinkError;
    Res r = first(0x11);
    if (r != kOk) return r;
    return readData(0x11, n, out) ? kOk : kLinkError;
  }
  Res write(uint32_t address, const Bytes& data) override {
    if (!writeData(0x31, cat(be32(address), {uint8_t(data.size() - 1)}))) return kLinkError;
    Res r = first(0x31);
    if (r != kOk) return r;
    return writeData(0x31, data) ? later(0x31) : kLinkError;
  }
  Res erasePages(const std::vector<uint16_t>& pages) override {
    if (!writeData(0x44, {uint8_t((pages.size() - 1) >> 8), uint8_t(pages.size() - 1)})) return kLinkError;
    Res r = first(0x44);
    if (r != kOk) return r;
    Bytes f;
    for (uint16_t p : pages) f.insert(f.end(), {uint8_t(p >> 8), uint8_t(p)});
    return writeData(0x44, f) ? later(0x44) : kLinkError;
  }
  Res eraseCode(uint16_t code) override {
    if (!writeData(0x44, {uint8_t(code >> 8), uint8_t(code)})) return kLinkError;
    Res r = first(0x44);
    return r != kOk ? r : later(0x44);
  }
  Res twoAck(uint8_t cmd) override {
    Res r = bare(cmd);
    return r != kOk ? r : later(cmd);
  }
  Res protectBits(const Bytes& bits) override {
    if (!writeData(0x63, {uint8_t(bits.size() - 1)})) return kLinkError;
    Res r = first(0x63);
    if (r != kOk) return r;
    return writeData(0x63, bits) ? later(0x63) : kLinkError;
  }
  Res crc(uint32_t address, uint16_t sectors, uint32_t& value) override {
    const uint16_t m = sectors - 1;
    if (!writeData(0xAC, cat(be32(address), {uint8_t(m >> 8), uint8_t(m)}))) return kLinkError;
    Res r = first(0xAC);
    if (r != kOk) return r;
    Bytes b;
    if (!readData(0xAC, 4, b)) return kLinkError;
    value = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    return kOk;
  }
  Res protectLevel(uint8_t level) override {
    if (!writeData(0xD6, {level, uint8_t(~level)})) return kLinkError;
    return first(0xD6);
  }
  Res slibStatus(Bytes& status) override {
    Res r = bare(0xD2);
    if (r != kOk) return r;
    if (!readData(0xD2, 12, status)) return kLinkError;
    return later(0xD2);
  }
};

}  // namespace

std::unique_ptr<BootHost> makeHost(const std::string& link, TestLine& line) {
  if (link == "usart") return std::make_unique<UsartHost>(line);
  if (link == "i2c") return std::make_unique<I2cHost>(line);
  if (link == "spi") return std::make_unique<SpiHost>(line);
  return std::make_unique<CanHost>(line);
}

}  // namespace kvtest
