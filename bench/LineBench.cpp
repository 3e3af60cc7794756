// Not a test: times download + verify of an image through one transport of
// libKVBLLIB against kv32sim, several runs, and reports per run and as best
// and median:
//   wall time, host CPU time (this process only: the simulator is a child
//   process whose time is not counted) and its share of the wall time,
//   bytes on the wire both ways, wire efficiency (payload / wire bytes),
//   and, on a paced line, the line's lower bound (wire bytes x 11 / baud;
//   the protocol is half duplex, so both directions count) and its ratio to
//   the wall time, with the overhead per exchange (one host send and the
//   answer it waits for);
// together with the machine's load average at the start of each run.
//
//   line_bench LINK BAUD [RUNS] [KB]
//     LINK usart | i2c | spi | can; BAUD paces the simulated line (0: unpaced,
//     the simulator answers at once); RUNS (3) runs; KB (256) image size.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "KVBL.h"
#include "KVBLPorts.h"
#include "SimProcess.h"

namespace {

struct Link {
  const char* name;
  BYTE type;
};
const Link kLinks[] = {{"usart", KVBL_INTERFACE_USART},
                       {"i2c", KVBL_INTERFACE_I2C},
                       {"spi", KVBL_INTERFACE_SPI},
                       {"can", KVBL_INTERFACE_CAN}};

struct Run {
  double load = 0;  // 1-minute load average at the start
  double wall = 0;
  double cpu = 0;
  double sent = 0;
  double received = 0;
  double sends = 0;
};

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double loadAverage() {
  std::ifstream f("/proc/loadavg");
  double l = -1;
  f >> l;
  return l;
}

bool failed(const char* what, BYTE r) {
  std::fprintf(stderr, "line_bench: %s failed: 0x%02X\n", what, r);
  return false;
}

// Connects to the chip the way tarnflash does for the link.
bool connect(const std::string& link, long baud, const std::string& port, HANDLE* h) {
  std::string name = port;
  BYTE r = SetCOMSettings(h, 1, &name[0], link == "usart" && baud > 0 ? baud : 115200, 8, 2, 1.0f);
  if (r) return failed("settings", r);
  if ((r = Interface_Open(*h))) return failed("open", r);
  SetTimeOut(*h, 5000);
  if (link == "i2c") r = KVBL_Init_BL(*h, 0x3C, 400000, 0);
  else if (link == "spi") r = KVBL_Init_BL(*h, 0, 1000000, 0);
  else if (link == "can") {
    r = KVBL_Init_BL(*h, 0, 2, 0);
    if (!r) r = KVBL_SetSpeed(*h, 2);
  } else {
    r = KVBL_Init_BL(*h, 0, 0, 0);
  }
  if (r) return failed("start", r);
  BYTE version = 0;
  Commands c{};
  if ((r = KVBL_GET(*h, &version, &c))) return failed("GET", r);
  if ((r = SetPaketSize(*h, 252))) return failed("packet size", r);
  return true;
}

bool runOnce(const std::string& link, long baud, const std::vector<BYTE>& image, Run* out) {
  std::vector<std::string> args = {"--link", link, "--map", kvtest::mapDir()};
  if (baud > 0) args.insert(args.end(), {"--baud", std::to_string(baud)});
  kvtest::SimProcess sim;
  if (!sim.start(args)) {
    std::fprintf(stderr, "line_bench: kv32sim did not start\n");
    return false;
  }
  HANDLE h = nullptr;
  if (!connect(link, baud, sim.portName(), &h)) return false;
  bool ok = true;
  BYTE r = KVBL_ERASE(h, 0xFFFF, nullptr, 0);
  if (r) ok = failed("erase", r);
  if (ok) {
    const DWORD size = static_cast<DWORD>(image.size());
    BYTE* data = const_cast<BYTE*>(image.data());
    out->load = loadAverage();
    const kvbl::LineCounters before = kvbl::Counters();
    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    if ((r = KVBL_DNLOAD(h, 0x08000000, data, size, 0))) ok = failed("download", r);
    else if ((r = KVBL_VERIFY(h, 0x08000000, data, size, 0))) ok = failed("verify", r);
    out->wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    out->cpu = cpuSeconds() - cpu0;
    const kvbl::LineCounters after = kvbl::Counters();
    out->sent = static_cast<double>(after.sent - before.sent);
    out->received = static_cast<double>(after.received - before.received);
    out->sends = static_cast<double>(after.sends - before.sends);
  }
  Interface_Close(h);
  return ok;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: line_bench usart|i2c|spi|can BAUD [RUNS] [KB]\n");
    return 2;
  }
  const std::string link = argv[1];
  const long baud = std::atol(argv[2]);
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  const long kb = argc > 4 ? std::atol(argv[4]) : 256;
  const Link* l = nullptr;
  for (const Link& k : kLinks)
    if (link == k.name) l = &k;
  if (l == nullptr || baud < 0 || runs < 1 || runs > 100 || kb < 1 || kb > 256) {
    std::fprintf(stderr, "line_bench: bad arguments\n");
    return 2;
  }
  if (TARGET_SetComIntType(l->type) != SUCCESS) {
    std::fprintf(stderr, "line_bench: this build has no %s transport\n", link.c_str());
    return 1;
  }
  std::vector<BYTE> image(static_cast<size_t>(kb) * 1024);
  unsigned x = 12345;
  for (BYTE& b : image) b = static_cast<BYTE>((x = x * 1103515245u + 12345u) >> 16);
  const double payload = 2.0 * image.size();  // written once, read back once

  std::printf("%s, %s, %ld KB download + verify, %d run(s)\n", link.c_str(),
              baud > 0 ? (std::to_string(baud) + " baud").c_str() : "unpaced", kb, runs);
  std::vector<double> walls, ratios, cpuShares, throughputs;
  Run last;
  for (int i = 0; i < runs; ++i) {
    Run r;
    if (!runOnce(link, baud, image, &r)) return 1;
    const double wire = r.sent + r.received;
    const double bound = wire * 11.0 / (baud > 0 ? baud : 1);
    walls.push_back(r.wall);
    cpuShares.push_back(100.0 * r.cpu / r.wall);
    throughputs.push_back(payload / r.wall / 1e6);
    std::printf("  run %d: load %.2f, wall %.3f s, host CPU %.3f s (%.2f %%)", i + 1, r.load, r.wall,
                r.cpu, 100.0 * r.cpu / r.wall);
    if (baud > 0) {
      ratios.push_back(bound / r.wall);
      std::printf(", bound %.3f s, ratio %.3f, %.0f us/exchange over the bound\n", bound,
                  bound / r.wall, (r.wall - bound) / r.sends * 1e6);
    } else {
      std::printf(", %.3f MB/s payload\n", payload / r.wall / 1e6);
    }
    std::fflush(stdout);
    last = r;
  }
  const double wire = last.sent + last.received;
  std::printf("  wire: %.0f bytes sent, %.0f received, %.0f exchanges; payload %.0f bytes, "
              "efficiency %.3f\n", last.sent, last.received, last.sends, payload, payload / wire);
  std::printf("  wall best %.3f s, median %.3f s; host CPU median %.2f %% of wall\n",
              *std::min_element(walls.begin(), walls.end()), median(walls), median(cpuShares));
  if (baud > 0)
    std::printf("  ratio (bound / wall) best %.3f, median %.3f\n",
                *std::max_element(ratios.begin(), ratios.end()), median(ratios));
  else
    std::printf("  throughput best %.3f MB/s, median %.3f MB/s\n",
                *std::max_element(throughputs.begin(), throughputs.end()), median(throughputs));
  return 0;
}
