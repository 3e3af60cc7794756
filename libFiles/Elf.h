// ELF images (32 and 64 bits, either byte order): the contents of the
// loadable segments at their physical addresses; a file without program
// headers gives its allocated sections that have contents, at their
// addresses. Read only.
#ifndef LIBFILES_ELF_H
#define LIBFILES_ELF_H

#include <string>
#include <vector>

#include "Image.h"

namespace libfiles {

class Elf {
 public:
  static unsigned int read(const std::string& bytes, std::vector<Chunk>& elements);
};

}  // namespace libfiles

#endif
