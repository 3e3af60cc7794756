// Cutting an image to a chip's sectors.
#ifndef LIBFILES_FILTER_H
#define LIBFILES_FILTER_H

#include "Files.h"
#include "Image.h"

namespace libfiles {

class Filter {
 public:
  // Splits every element at the boundaries of the mapping's sectors and of
  // the external bank's 4 KB sectors; with optimize, pieces that are all
  // 0xFF are dropped. Data that no window takes fails with
  // FILES_BADADDRESSRANGE and the image stays as it was. A raw binary may
  // also run past the main flash (its place is decided by the download
  // offset); that part is split into 4 KB pieces.
  static unsigned int apply(FilesImage& image, const MAPPING& mapping, bool optimize);
};

}  // namespace libfiles

#endif
