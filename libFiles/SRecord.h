// Motorola S-record: S0 (header), S1-S3 (data, 16/24/32-bit addresses),
// S5/S6 (record count, checked), S7-S9 (end). A file ends in an end
// record or in a matching count record.
#ifndef LIBFILES_SRECORD_H
#define LIBFILES_SRECORD_H

#include <string>
#include <vector>

#include "Image.h"

namespace libfiles {

class SRecord {
 public:
  static unsigned int read(const std::string& text, std::vector<Chunk>& elements);
  static std::string write(const std::vector<Chunk>& elements);
};

}  // namespace libfiles

#endif
