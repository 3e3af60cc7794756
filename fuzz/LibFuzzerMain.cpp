// libFuzzer entry: FUZZ_ENTRY names the function this executable fuzzes.
#include "FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FUZZ_ENTRY(data, size); }
