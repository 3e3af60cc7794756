// The simulator's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv32sim {

struct Options {
  std::string link = "usart";  // usart | i2c | spi | can
  std::string device = "KV32S04";
  std::string mapDir;          // empty: found next to the program
  std::string stateFile;
  std::string dumpFile;
  std::string loadFlashFile;
  std::string logFile;
  unsigned baud = 0;
  unsigned latencyMs = 0;
  std::vector<std::string> faults;
  unsigned eraseMs = 0;
  unsigned writeUsPerByte = 0;
  unsigned timeoutMs = 5000;   // host quiet in the middle of a command
  uint16_t bid = 0x4602;
  uint8_t version = 0x31;
  int protect = 0;             // access protection level at start
  uint16_t i2cAddress = 0x3C;
  std::string uid;             // 24 hexadecimal digits
  std::string eraseCommand = "extended";  // plain | extended | both
  std::vector<uint8_t> unlisted;          // command codes GET leaves out
  bool help = false;
};

// false with a message for anything it does not understand.
bool parseOptions(int argc, char** argv, Options& o, std::string& error);
const char* usageText();

}  // namespace kv32sim
