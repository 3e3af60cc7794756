// The soak client: repeated connect-download-verify cycles through
// libKVBLLIB on one simulated chip, watching the process's descriptors and
// memory. Usage: reliability_soak --link usart|i2c|spi|can --pn PORT
//                [--cycles N] [--sectors S]
// Prints the figures every 50 cycles and a JSON summary; exits 1 when a
// cycle failed or descriptors grew.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SoakCycle.h"

int main(int argc, char** argv) {
  std::string linkName = "usart", port;
  unsigned cycles = 500, sectors = 4;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--link") linkName = argv[i + 1];
    else if (opt == "--pn") port = argv[i + 1];
    else if (opt == "--cycles") cycles = unsigned(std::strtoul(argv[i + 1], nullptr, 10));
    else if (opt == "--sectors") sectors = unsigned(std::strtoul(argv[i + 1], nullptr, 10));
  }
  const SoakLink* link = FindSoakLink(linkName);
  if (!link || port.empty() || cycles == 0 || sectors == 0 || sectors > 64) {
    std::fprintf(stderr, "usage: reliability_soak --link usart|i2c|spi|can --pn PORT [--cycles N] [--sectors 1..64]\n");
    return 2;
  }
  unsigned failures = 0;
  ProcessUsage first, settled, last;
  for (unsigned c = 1; c <= cycles; ++c) {
    const std::string why = SoakCycle(*link, port, c, sectors);
    if (!why.empty()) {
      ++failures;
      std::printf("cycle %u failed: %s\n", c, why.c_str());
    }
    last = CurrentUsage();
    if (c == 1) first = last;
    if (c == 10 || (cycles < 10 && c == cycles)) settled = last;
    if (c % 50 == 0 || c == 1)
      std::printf("cycle %u: descriptors %d, rss %ld KB\n", c, last.openDescriptors, last.rssKb);
    std::fflush(stdout);
  }
  std::printf("{\"link\": \"%s\", \"cycles\": %u, \"failures\": %u, \"fd_first\": %d, \"fd_last\": %d, "
              "\"rss_kb_first\": %ld, \"rss_kb_cycle10\": %ld, \"rss_kb_last\": %ld}\n",
              link->name, cycles, failures, first.openDescriptors, last.openDescriptors, first.rssKb,
              settled.rssKb, last.rssKb);
  return failures == 0 && last.openDescriptors == first.openDescriptors ? 0 : 1;
}
