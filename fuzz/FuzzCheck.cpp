#include <cstdio>
#include <cstdlib>

#include "FuzzEntries.h"

void FuzzCheck(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}
