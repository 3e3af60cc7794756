// Whole-file reading and writing with the library's bounds and codes.
#ifndef LIBFILES_FILEIO_H
#define LIBFILES_FILEIO_H

#include <string>

namespace libfiles {

class FileIO {
 public:
  // Reads a regular file of at most maxBytes. A missing, unreadable or
  // non-regular path gives FILES_UNABLETOOPENFILE, a larger file
  // FILES_BADFORMAT.
  static unsigned int readAll(const std::string& path, std::string& out, unsigned long maxBytes);
  // Writes the bytes through a temporary file in the same folder, renamed
  // into place, so that a failed write never leaves a cut-short file.
  static unsigned int writeAll(const std::string& path, const std::string& bytes);
};

}  // namespace libfiles

#endif
