#include "Options.h"

#include "FaultPlan.h"

namespace kv32sim {

const char* usageText() {
  return "usage: kv32sim [--link usart|i2c|spi|can] [--device NAME|NAME_<size>K|PID|PEER-0414]\n"
         "               [--map DIR] [--state FILE] [--dump FILE] [--load-flash FILE]\n"
         "               [--baud N] [--latency MS] [--log FILE] [--fault SPEC]... [--erase-ms N]\n"
         "               [--write-us-per-byte N] [--timeout-ms N] [--bid HEX]\n"
         "               [--version HEX] [--protect 0|1|2] [--i2c-address HEX] [--uid HEX24]\n"
         "               [--erase-command plain|extended|both] [--unlist HEX]...\n"
         "Fault SPEC: drop:N  flip:N[:MASK]  nack:CMD[:K]  busy:K  status:K:S\n"
         "            stall:CMD[:K]  random:SEED:P  unplug:N\n"
         "See docs/simulator.md.\n";
}

bool parseOptions(int argc, char** argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
      continue;
    }
    if (i + 1 >= argc) {
      error = a.rfind("--", 0) == 0 ? "option " + a + " needs a value" : "unknown argument " + a;
      return false;
    }
    const std::string v = argv[++i];
    uint64_t n = 0;
    auto number = [&](uint64_t max) {
      if (parseNumber(v, max, n)) return true;
      error = "bad value for " + a + ": " + v;
      return false;
    };
    auto hex = [&](uint64_t max) {
      const std::string t = v.rfind("0x", 0) == 0 || v.rfind("0X", 0) == 0 ? v : "0x" + v;
      if (parseNumber(t, max, n)) return true;
      error = "bad value for " + a + ": " + v;
      return false;
    };
    if (a == "--link") {
      if (v != "usart" && v != "i2c" && v != "spi" && v != "can") {
        error = "--link takes usart, i2c, spi or can";
        return false;
      }
      o.link = v;
    } else if (a == "--device") {
      o.device = v;
    } else if (a == "--map") {
      o.mapDir = v;
    } else if (a == "--state") {
      o.stateFile = v;
    } else if (a == "--dump" || a == "--dump-flash") {
      o.dumpFile = v;
    } else if (a == "--load-flash") {
      o.loadFlashFile = v;
    } else if (a == "--log") {
      o.logFile = v;
    } else if (a == "--fault") {
      o.faults.push_back(v);
    } else if (a == "--baud") {
      if (!number(20000000) || n == 0) {
        error = "bad value for --baud: " + v;
        return false;
      }
      o.baud = static_cast<unsigned>(n);
    } else if (a == "--latency") {
      if (!number(1000)) return false;
      o.latencyMs = static_cast<unsigned>(n);
    } else if (a == "--erase-ms") {
      if (!number(60000)) return false;
      o.eraseMs = static_cast<unsigned>(n);
    } else if (a == "--write-us-per-byte") {
      if (!number(1000000)) return false;
      o.writeUsPerByte = static_cast<unsigned>(n);
    } else if (a == "--timeout-ms") {
      if (!number(600000) || n == 0) {
        error = "bad value for --timeout-ms: " + v;
        return false;
      }
      o.timeoutMs = static_cast<unsigned>(n);
    } else if (a == "--bid") {
      if (!hex(0xFFFF)) return false;
      o.bid = static_cast<uint16_t>(n);
    } else if (a == "--version") {
      if (!hex(0xFF)) return false;
      o.version = static_cast<uint8_t>(n);
    } else if (a == "--protect") {
      if (!number(2)) return false;
      o.protect = static_cast<int>(n);
    } else if (a == "--i2c-address") {
      if (!hex(0x3FF)) return false;
      o.i2cAddress = static_cast<uint16_t>(n);
    } else if (a == "--erase-command") {
      if (v != "plain" && v != "extended" && v != "both") {
        error = "--erase-command takes plain, extended or both";
        return false;
      }
      o.eraseCommand = v;
    } else if (a == "--unlist") {
      if (!hex(0xFF)) return false;
      o.unlisted.push_back(static_cast<uint8_t>(n));
    } else if (a == "--uid") {
      if (v.size() != 24 || v.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        error = "--uid takes 24 hexadecimal digits";
        return false;
      }
      o.uid = v;
    } else {
      error = "unknown option " + a;
      return false;
    }
  }
  return true;
}

}  // namespace kv32sim
