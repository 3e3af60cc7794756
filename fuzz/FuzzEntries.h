// Entry points of the fuzz targets of outside input beyond the image files:
// OTP files, user-system-data files, the answers of every link and the
// command-line walk. Each takes arbitrary bytes, must never crash or hang,
// and aborts when something that must hold for what it accepted does not.
// They run under libFuzzer (one executable each) and, in every build, as a
// bounded smoke test over their seed corpus and mutations of it.
#ifndef KVFUZZ_FUZZENTRIES_H
#define KVFUZZ_FUZZENTRIES_H

#include <cstddef>
#include <cstdint>
#include <string>

int FuzzOtpFile(const uint8_t* data, size_t size);
int FuzzUserSystemData(const uint8_t* data, size_t size);
int FuzzUsartAnswers(const uint8_t* data, size_t size);
int FuzzI2CAnswers(const uint8_t* data, size_t size);
int FuzzSpiAnswers(const uint8_t* data, size_t size);
int FuzzCanAnswers(const uint8_t* data, size_t size);
int FuzzCommandLine(const uint8_t* data, size_t size);

// Runs the link entry's command walk over a real port (a simulated chip)
// and returns the seed it makes: the first byte, then every byte read.
std::string RecordLinkAnswers(unsigned char type, const std::string& portName, uint8_t first);

// Aborts (so that the fuzzer reports it) when ok is false.
void FuzzCheck(bool ok, const char* what);

#endif
