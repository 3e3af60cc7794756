// Why the last failing call of a thread failed, in words: what the
// exported FILES_GetLastErrorText hands out.
#ifndef LIBFILES_LASTERROR_H
#define LIBFILES_LASTERROR_H

#include <string>

namespace libfiles {

void setError(const std::string& text);
// "line N: text"
void setLineError(size_t line, const std::string& text);
void clearError();
const std::string& lastError();

}  // namespace libfiles

#endif
