// Runs a fuzz entry over its seed corpus and a bounded number of
// deterministic mutations of each seed, so that every build exercises it.
#ifndef KVFUZZ_FUZZSMOKE_H
#define KVFUZZ_FUZZSMOKE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using FuzzEntry = int (*)(const uint8_t*, size_t);

// The files of corpus/<name>/ (the folder must hold at least one).
std::vector<std::string> Seeds(const std::string& name);
// Each seed, then `rounds` mutations of it; returns the inputs run.
size_t Exercise(FuzzEntry entry, const std::vector<std::string>& seeds, int rounds);

#endif
