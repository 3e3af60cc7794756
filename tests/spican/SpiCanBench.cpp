// Not a test: times erase + download + verify of the whole flash of the
// default chip through the SPI or CAN transport against kv32sim, and reports
// wall time, CPU time and the bytes on the wire.
//   spican_bench spi|can [BAUD]     (BAUD paces the simulated line; 0 = unpaced)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CANBridge.h"
#include "KVBL.h"
#include "KVBLPorts.h"
#include "SPIBridge.h"
#include "SimProcess.h"

namespace {

const kvbl::Flavour* g_flavour = &kvspi::kFlavour;

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

namespace kvbl {
BYTE SelectInterfaceType(BYTE) { return SUCCESS; }
const Flavour* SelectedFlavour() { return g_flavour; }
}  // namespace kvbl

int main(int argc, char** argv) {
  const std::string link = argc > 1 ? argv[1] : "spi";
  const long baud = argc > 2 ? std::atol(argv[2]) : 0;
  if (link == "can") g_flavour = &kvcan::kFlavour;
  else if (link != "spi") return fail("link (spi or can)", 0);
  std::vector<std::string> args = {"--link", link, "--map", kvtest::mapDir()};
  if (baud > 0) args.insert(args.end(), {"--baud", std::to_string(baud)});
  kvtest::SimProcess sim;
  if (!sim.start(args)) return fail("kv32sim", 0);
  HANDLE h = nullptr;
  std::string name = sim.portName();
  BYTE r = SetCOMSettings(&h, 1, &name[0], 115200, 8, 2, 1.0f);
  if (r) return fail("settings", r);
  if ((r = Interface_Open(h))) return fail("open", r);
  SetTimeOut(h, 5000);
  r = KVBL_Init_BL(h, 0, link == "can" ? 2 : 1000000, 0);
  if (!r && link == "can") r = KVBL_SetSpeed(h, 2);
  if (r) return fail("init", r);
  BYTE v;
  Commands c{};
  if ((r = KVBL_GET(h, &v, &c))) return fail("GET", r);
  SetPaketSize(h, 252);
  std::vector<BYTE> image(256 * 1024);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<BYTE>(i * 7 + (i >> 9));
  if ((r = KVBL_ERASE(h, 0xFFFF, nullptr, 0))) return fail("erase", r);

  const kvbl::LineCounters before = kvbl::Counters();
  const double cpu0 = cpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  if ((r = KVBL_DNLOAD(h, 0x08000000, image.data(), image.size(), 0))) return fail("download", r);
  if ((r = KVBL_VERIFY(h, 0x08000000, image.data(), image.size(), 0))) return fail("verify", r);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = cpuSeconds() - cpu0;
  const kvbl::LineCounters after = kvbl::Counters();
  const double sent = static_cast<double>(after.sent - before.sent);
  const double received = static_cast<double>(after.received - before.received);
  const double payload = 2.0 * image.size();
  std::printf("link %s baud %ld: download+verify of %zu bytes in %.2f s, CPU %.2f s (%.1f %%)\n",
              link.c_str(), baud, image.size(), wall, cpu, 100.0 * cpu / wall);
  std::printf("wire: %.0f bytes sent, %.0f received; efficiency (payload / wire) %.3f\n", sent, received,
              payload / (sent + received));
  if (baud > 0)
    std::printf("line lower bound %.2f s; lower bound / time %.3f\n", (sent + received) * 11.0 / baud,
                (sent + received) * 11.0 / baud / wall);
  Interface_Close(h);
  return 0;
}
