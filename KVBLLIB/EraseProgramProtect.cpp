// libKVBLLIB's erase/program protection: the shared command with the flag
// its callers pass (every transport of this library does without it).
#include "KVBLFlavour.h"
#include "KVBLLIB.h"

KVBL_API BYTE KVBL_ERASEPROGRAM_PROTECT(HANDLE hCOM, BYTE NbSectors, LPBYTE pSectors, BYTE) {
  return kvbl::EraseProgramProtect(hCOM, NbSectors, pSectors);
}
