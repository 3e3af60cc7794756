// One connect-download-verify cycle of a client of libKVBLLIB, and the
// process's own resource figures, for the soak run and its test.
#ifndef RELIABILITY_SOAKCYCLE_H
#define RELIABILITY_SOAKCYCLE_H

#include <string>

struct SoakLink {
  const char* name;  // kv32sim's --link
  unsigned char type;  // TARGET_SetComIntType
  unsigned short initAddress;
  unsigned long initRate;
};

// usart, i2c, spi, can; null for another name.
const SoakLink* FindSoakLink(const std::string& name);

// Opens the port, starts the bootloader, identifies the chip, erases
// `sectors` 2 KB sectors, downloads a pattern of their size (different each
// cycle), verifies it and closes the port. Empty on success, else what failed.
std::string SoakCycle(const SoakLink& link, const std::string& portName, unsigned cycle, unsigned sectors);

struct ProcessUsage {
  int openDescriptors = -1;  // entries of /proc/self/fd
  long rssKb = -1;           // VmRSS
};
ProcessUsage CurrentUsage();

#endif
