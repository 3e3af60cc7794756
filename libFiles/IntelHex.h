// Intel HEX: records 00 (data), 01 (end), 02/04 (extended segment/linear
// address), 03/05 (start address, accepted and not kept).
#ifndef LIBFILES_INTELHEX_H
#define LIBFILES_INTELHEX_H

#include <string>
#include <vector>

#include "Image.h"

namespace libfiles {

class IntelHex {
 public:
  static unsigned int read(const std::string& text, std::vector<Chunk>& elements);
  static std::string write(const std::vector<Chunk>& elements);
};

}  // namespace libfiles

#endif
