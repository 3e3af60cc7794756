#include "TestLine.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace kvtest {

TestLine::~TestLine() { close(); }

bool TestLine::open(const std::string& path) {
  close();
  m_path = path;
  m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_fd < 0) return false;
  termios t{};
  if (tcgetattr(m_fd, &t) != 0) return false;
  cfmakeraw(&t);
  tcsetattr(m_fd, TCSANOW, &t);
  tcflush(m_fd, TCIOFLUSH);
  return true;
}

void TestLine::close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

bool TestLine::reopen(int pauseMs) {
  close();
  std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  return open(m_path);
}

bool TestLine::send(const Bytes& b) {
  size_t done = 0;
  while (done < b.size()) {
    const ssize_t n = ::write(m_fd, b.data() + done, b.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

Bytes TestLine::recv(size_t n, int timeoutMs) {
  Bytes out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    uint8_t buf[4096];
    const ssize_t r = ::read(m_fd, buf, std::min(sizeof buf, n - out.size()));
    if (r <= 0) break;
    out.insert(out.end(), buf, buf + r);
  }
  return out;
}

Bytes TestLine::drain(int quietMs) {
  Bytes out;
  for (;;) {
    Bytes b = recv(4096, quietMs);
    if (b.empty()) return out;
    out.insert(out.end(), b.begin(), b.end());
  }
}

}  // namespace kvtest
