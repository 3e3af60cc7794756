#include "SimLog.h"

#include <cstdarg>

namespace kv32sim {

SimLog::SimLog() : m_start(std::chrono::steady_clock::now()) {}

SimLog::~SimLog() {
  if (m_file) fclose(m_file);
}

bool SimLog::open(const std::string& path) {
  if (m_file) fclose(m_file);
  m_file = fopen(path.c_str(), "w");
  return m_file != nullptr;
}

double SimLog::seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void SimLog::bytes(const char* direction, const uint8_t* data, size_t n) {
  if (!m_file || n == 0) return;
  fprintf(m_file, "%12.6f %s", seconds(), direction);
  for (size_t i = 0; i < n; ++i) fprintf(m_file, " %02X", data[i]);
  fputc('\n', m_file);
  fflush(m_file);
}

void SimLog::note(const char* fmt, ...) {
  if (!m_file) return;
  fprintf(m_file, "%12.6f ", seconds());
  va_list ap;
  va_start(ap, fmt);
  vfprintf(m_file, fmt, ap);
  va_end(ap);
  fputc('\n', m_file);
  fflush(m_file);
}

}  // namespace kv32sim
