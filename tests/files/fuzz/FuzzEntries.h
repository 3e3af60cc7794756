// Entry points of the fuzz targets. Each takes arbitrary bytes, must never
// crash, and checks what must hold for anything it accepted. They run under
// libFuzzer (one executable each) and, in every build, as a bounded smoke
// test over seeds and mutations.
#ifndef KVTEST_FUZZENTRIES_H
#define KVTEST_FUZZENTRIES_H

#include <cstddef>
#include <cstdint>

int FuzzIntelHex(const uint8_t* data, size_t size);
int FuzzSRecord(const uint8_t* data, size_t size);
int FuzzDeviceMap(const uint8_t* data, size_t size);
int FuzzElf(const uint8_t* data, size_t size);

#endif
