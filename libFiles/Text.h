// Helpers shared by the two text formats: line walking and hex digits.
#ifndef LIBFILES_TEXT_H
#define LIBFILES_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace libfiles {

// Splits text into lines (LF or CRLF), strips trailing blanks and skips
// empty lines. fn(const char* p, size_t n, size_t lineNumber) returns false
// to stop the walk with that verdict; lines are numbered from 1.
template <typename Fn>
bool forEachLine(const std::string& text, Fn fn) {
  size_t pos = 0;
  size_t number = 0;
  while (pos < text.size()) {
    ++number;
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    size_t end = eol;
    while (end > pos && (text[end - 1] == '\r' || text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    if (end > pos && !fn(text.data() + pos, end - pos, number)) return false;
    pos = eol + 1;
  }
  return true;
}

inline int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decodes an even number of hex digits; false on any other character.
inline bool decodeHex(const char* p, size_t n, std::vector<uint8_t>& out) {
  if (n % 2) return false;
  out.resize(n / 2);
  for (size_t i = 0; i < n / 2; ++i) {
    int hi = hexDigit(p[2 * i]), lo = hexDigit(p[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = uint8_t(hi << 4 | lo);
  }
  return true;
}

// What keeps n characters from being hexadecimal byte pairs.
inline const char* hexDigitsProblem(size_t n) {
  return n % 2 ? "an odd number of hexadecimal digits" : "a character that is no hexadecimal digit";
}

inline void appendHexByte(std::string& s, uint8_t b) {
  static const char digits[] = "0123456789ABCDEF";
  s.push_back(digits[b >> 4]);
  s.push_back(digits[b & 15]);
}

inline std::string hexByte(uint8_t b) {
  std::string s;
  appendHexByte(s, b);
  return s;
}

}  // namespace libfiles

#endif
