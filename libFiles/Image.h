// The image model behind the opaque handle, and the one merge step that
// every reader uses to turn loose records into ordered elements.
#ifndef LIBFILES_IMAGE_H
#define LIBFILES_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace libfiles {

struct Chunk {
  uint32_t address = 0;
  std::vector<uint8_t> data;
  // One past the last byte, in 64 bits so that it never wraps.
  uint64_t end() const { return uint64_t(address) + data.size(); }
};

// Collects the data records of a file as they come and bounds their total.
class ChunkCollector {
 public:
  // Adds bytes at address; fails when they would pass 4 GB or the total
  // would exceed the image bound.
  unsigned int add(uint64_t address, const uint8_t* bytes, size_t count);
  // Sorts the records and merges touching or overlapping ones into
  // elements. Overlaps must carry equal bytes (else FILES_BADFORMAT); data
  // with gaps stays in separate elements.
  unsigned int finish(std::vector<Chunk>& elements);

 private:
  std::vector<Chunk> m_chunks;
  uint64_t m_total = 0;
};

}  // namespace libfiles

struct FilesImage {
  std::string name;
  std::vector<libfiles::Chunk> elements;
  bool fromBinary = false;  // a raw binary placed at the flash base
};

#endif
