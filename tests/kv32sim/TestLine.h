// The test's own end of the simulator's terminal: raw bytes, nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

using Bytes = std::vector<uint8_t>;

class TestLine {
 public:
  ~TestLine();
  bool open(const std::string& path);
  void close();
  // Closes the terminal and opens it again, as the host does after a reset.
  bool reopen(int pauseMs = 200);
  bool send(const Bytes& b);
  // Up to n bytes within timeoutMs; fewer when the time is up.
  Bytes recv(size_t n, int timeoutMs = 2000);
  // Whatever arrives within quietMs.
  Bytes drain(int quietMs = 100);

 private:
  std::string m_path;
  int m_fd = -1;
};

}  // namespace kvtest
