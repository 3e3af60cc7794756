// Optional trace of everything the simulator sees and does.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kv32sim {

// Writes timestamped lines: bytes in both directions, decoded frames and
// commands, and every injected fault. Does nothing until open() succeeds.
class SimLog {
 public:
  SimLog();
  ~SimLog();
  SimLog(const SimLog&) = delete;
  SimLog& operator=(const SimLog&) = delete;

  bool open(const std::string& path);
  bool enabled() const { return m_file != nullptr; }

  // "H>S" host to simulator, "S>H" simulator to host.
  void bytes(const char* direction, const uint8_t* data, size_t n);
  void note(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

 private:
  double seconds() const;
  FILE* m_file = nullptr;
  std::chrono::steady_clock::time_point m_start;
};

}  // namespace kv32sim
