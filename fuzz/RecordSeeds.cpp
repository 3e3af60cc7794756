// Records seeds of the link-answer targets from a simulated chip:
//   fuzz_record_seeds TYPE PORT FIRST > seed
// TYPE is the interface type (0 USART, 2 I2C, 3 CAN, 4 SPI), PORT the
// simulator's port name, FIRST the seed's first byte (start step, packet).
#include <cstdio>
#include <cstdlib>

#include "FuzzEntries.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const std::string seed = RecordLinkAnswers(static_cast<unsigned char>(std::atoi(argv[1])), argv[2],
                                             static_cast<uint8_t>(std::strtoul(argv[3], nullptr, 0)));
  std::fwrite(seed.data(), 1, seed.size(), stdout);
  return seed.size() > 1 ? 0 : 1;
}
