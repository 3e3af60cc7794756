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
  // Writes the bytes into one mkstemp file in the target's folder, synced
  // and renamed into place once, so that a failed write never leaves a
  // cut-short file. A replaced file keeps its permissions; a new one gets
  // 0666 less the umask.
  static unsigned int writeAll(const std::string& path, const std::string& bytes);
};

}  // namespace libfiles

#endif
