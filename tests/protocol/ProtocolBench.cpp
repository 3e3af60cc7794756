// Not a test: times erase + download + verify of the whole flash of the
// default chip through one transport of libKVBLLIB's objects against
// kv32sim, and reports wall time, CPU time and the bytes on the wire.
//   protocol_bench LINK [BAUD]     (BAUD paces the simulated line; 0 = unpaced)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "KVBL.h"
#include "KVBLPorts.h"
#include "SimProcess.h"

namespace {

double cpuSeconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int fail(const char* what, int r) {
  std::fprintf(stderr, "%s failed: 0x%02X\n", what, r);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string link = argc > 1 ? argv[1] : "i2c";
  const long baud = argc > 2 ? std::atol(argv[2]) : 0;
  const BYTE type = link == "usart" ? KVBL_INTERFACE_USART : KVBL_INTERFACE_I2C;
  std::vector<std::string> args = {"--link", link, "--map", kvtest::mapDir()};
  if (baud > 0) args.insert(args.end(), {"--baud", std::to_string(baud)});
  kvtest::SimProcess sim;
  if (!sim.start(args)) return fail("kv32sim", 0);
  TARGET_SetComIntType(type);
  HANDLE h = nullptr;
  std::string name = sim.portName();
  BYTE r = SetCOMSettings(&h, 1, &name[0], baud > 0 ? baud : 115200, 8, 2, 1.0f);
  if (r) return fail("settings", r);
  if ((r = Interface_Open(h))) return fail("open", r);
  SetTimeOut(h, 5000);
  if ((r = KVBL_Init_BL(h, 0x3C, 400000, 0))) return fail("init", r);
  BYTE v;
  Commands c{};
  if ((r = KVBL_GET(h, &v, &c))) return fail("GET", r);
  SetPaketSize(h, 252);

  const DWORD size = 256 * 1024;
  std::vector<BYTE> image(size);
  unsigned x = 12345;
  for (auto& b : image) b = static_cast<BYTE>((x = x * 1103515245u + 12345u) >> 16);

  if ((r = KVBL_ERASE(h, 0xFFFF, nullptr, 0))) return fail("erase", r);
  const auto before = kvbl::Counters();
  const double cpu0 = cpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  if ((r = KVBL_DNLOAD(h, 0x08000000, image.data(), size, 0))) return fail("download", r);
  if ((r = KVBL_VERIFY(h, 0x08000000, image.data(), size, 0))) return fail("verify", r);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = cpuSeconds() - cpu0;
  const auto after = kvbl::Counters();
  const double wire = double(after.sent - before.sent) + double(after.received - before.received);
  std::printf("link %s, %s: %u KB download + verify\n", link.c_str(),
              baud > 0 ? (std::to_string(baud) + " baud").c_str() : "unpaced", unsigned(size / 1024));
  std::printf("  wall %.3f s, CPU %.3f s (%.1f %%)\n", wall, cpu, 100.0 * cpu / wall);
  std::printf("  wire: %.0f bytes sent, %.0f received; payload %u bytes, efficiency %.3f\n",
              double(after.sent - before.sent), double(after.received - before.received),
              unsigned(2 * size), 2.0 * size / wire);
  std::printf("  payload throughput %.1f KB/s\n", 2.0 * size / wall / 1e3);
  if (baud > 0)
    std::printf("  line lower bound %.3f s (11 bits a byte): ratio %.3f\n", wire * 11 / baud,
                wire * 11 / baud / wall);
  Interface_Close(h);
  return 0;
}
