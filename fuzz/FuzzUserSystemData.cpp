// User-system-data files: the file goes through the program's own reader
// (binary, Intel HEX or S-record by its name) into the decoded option-byte
// model of a chip series. Whatever it holds, the model keeps its block
// length, and encoding what it decoded then decoding again changes nothing.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "FuzzEntries.h"
#include "files/UserSystemDataFile.h"
#include "usd/UserSystemData.h"

namespace {

const int kSeries[] = {1, 2, 4, 5, 7, 8, 9, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                       23, 24, 25, 26, 28, 29, 30, 31, 32, 3, 0, 255};
const char* const kExtensions[] = {".bin", ".hex", ".s19"};

std::string ScratchPath(int kind) {
  return "/tmp/kvfuzz-usd-" + std::to_string(getpid()) + kExtensions[kind];
}

}  // namespace

int FuzzUserSystemData(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int series = kSeries[data[0] % (sizeof(kSeries) / sizeof(kSeries[0]))];
  const int bid = (data[1] << 8) | data[2];
  const int kind = data[3] % 3;
  const std::string path = ScratchPath(kind);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data + 4, 1, size - 4, f);
  std::fclose(f);

  CUserSystemDataFile file;
  const int opened = file.Open(path, nullptr);
  std::remove(path.c_str());
  if (opened != 0) return 0;
  file.ResetElement();
  const IMAGEELEMENT* element = file.GetElement();
  if (!element) return 0;

  CUserSystemData first(series, bid, nullptr, nullptr, 0);
  const int length = CUserSystemData::GetUserSystemDataLength(series, bid, 0);
  if (!first.SetElementData(element)) {
    FuzzCheck(element->dwDataLength < 2ul * unsigned(length), "a whole block refused");
    return 0;
  }
  unsigned char* values = nullptr;
  FuzzCheck(first.Get(values) == length && values != nullptr, "values of the block's length");
  unsigned char* image = nullptr;
  FuzzCheck(first.GetElementData(image) == CUserSystemData::ELEMENT_IMAGE_LENGTH, "element image length");
  for (int i = 0; i < CUserSystemData::ELEMENT_IMAGE_LENGTH; i += 2)
    FuzzCheck(image[i + 1] == static_cast<unsigned char>(~image[i]), "value/complement pairs");

  CUserSystemData second(series, bid, nullptr, nullptr, 0);
  second.SetElementData(image, CUserSystemData::ELEMENT_IMAGE_LENGTH);
  unsigned char* again = nullptr;
  FuzzCheck(second.Get(again) == length, "length after the round trip");
  FuzzCheck(std::memcmp(values, again, size_t(length)) == 0, "decode, encode, decode is stable");

  // The protection-bit mapping over the decoded block.
  second.SetSectorNum(data[3]);
  int bits = 0;
  for (int epp = 0; epp < 4; ++epp) second.IsEPPnUsed(epp, &bits);
  second.GetAllSectorsISEPPStatus(false);
  const QList<int> sectors = second.GetEPPMapSectorIndex(data[3]);
  second.FilterEPPSectorIndexForEraseProgramProtect(sectors);
  delete[] values;
  delete[] image;
  delete[] again;
  return 0;
}
