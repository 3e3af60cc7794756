#include "LastError.h"

namespace libfiles {
namespace {
thread_local std::string t_error;
}  // namespace

void setError(const std::string& text) { t_error = text; }

void setLineError(size_t line, const std::string& text) { t_error = "line " + std::to_string(line) + ": " + text; }

void clearError() { t_error.clear(); }

const std::string& lastError() { return t_error; }

}  // namespace libfiles
