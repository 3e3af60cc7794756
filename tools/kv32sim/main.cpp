// kv32sim: a simulated KV32 chip in its factory bootloader, served on a
// pseudo-terminal behind a USART, I2C, SPI or CAN link.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "BridgeLink.h"
#include "CanBootloader.h"
#include "CanLink.h"
#include "Catalogue.h"
#include "ChipModel.h"
#include "FaultPlan.h"
#include "HostLine.h"
#include "Options.h"
#include "ReferenceBootloader.h"
#include "SimLog.h"
#include "UsartLink.h"

using namespace kv32sim;

namespace {

std::atomic<bool> g_stop{false};

void onSignal(int) { g_stop = true; }

bool isDir(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string findMapDir(const std::string& given) {
  if (!given.empty()) return given;
  if (isDir("Map")) return "Map";
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = '\0';
    std::string dir(exe);
    dir = dir.substr(0, dir.rfind('/'));
    const std::string installed = dir + "/../share/tarnflash/Map";
    if (isDir(installed)) return installed;
  }
  // Never a folder compiled in from the build machine: on another machine
  // that path may not exist, or may belong to anyone.
  return std::string();
}

void makeUid(const Options& o, uint32_t pid, uint8_t uid[12]) {
  if (!o.uid.empty()) {
    for (int i = 0; i < 12; ++i) uid[i] = static_cast<uint8_t>(std::stoul(o.uid.substr(2 * i, 2), nullptr, 16));
    return;
  }
  for (int i = 0; i < 12; ++i) uid[i] = static_cast<uint8_t>((pid >> (8 * (i % 4))) ^ (0x5A + 13 * i));
}

bool loadFlash(ChipMemory& m, const std::string& path, std::string& error) {
  std::string d;
  if (!readWhole(path, d, error)) return false;
  if (d.size() > m.flash.size()) {
    error = path + " is larger than the flash";
    return false;
  }
  memcpy(m.flash.data(), d.data(), d.size());
  return true;
}

bool dumpFlash(const ChipMemory& m, const std::string& path, std::string& error) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f || !f.write(reinterpret_cast<const char*>(m.flash.data()), static_cast<std::streamsize>(m.flash.size()))) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string error;
  if (!parseOptions(argc, argv, o, error)) {
    fprintf(stderr, "kv32sim: %s\n%s", error.c_str(), usageText());
    return 2;
  }
  if (o.help) {
    fputs(usageText(), stdout);
    return 0;
  }
  FaultPlan faults;
  for (const auto& f : o.faults)
    if (!faults.add(f, error)) {
      fprintf(stderr, "kv32sim: %s\n", error.c_str());
      return 2;
    }
  SimLog log;
  if (!o.logFile.empty() && !log.open(o.logFile)) {
    fprintf(stderr, "kv32sim: cannot write the log %s\n", o.logFile.c_str());
    return 1;
  }
  faults.setLog(&log);

  ChipProfile profile;
  if (findPeer(o.device, profile)) {
    if (o.link != "usart") {
      fprintf(stderr, "kv32sim: %s is served on the usart link only\n", profile.name.c_str());
      return 2;
    }
  } else {
    const std::string mapDir = findMapDir(o.mapDir);
    if (mapDir.empty()) {
      fprintf(stderr, "kv32sim: no device catalogue (./Map, or share/tarnflash/Map beside the program); give --map DIR\n");
      return 1;
    }
    if (!findChip(mapDir, o.device, o.bid, profile, error)) {
      fprintf(stderr, "kv32sim: %s\n", error.c_str());
      return 1;
    }
  }
  profile.unlisted = o.unlisted;
  profile.version = o.version;
  profile.plainErase = o.eraseCommand != "extended";
  profile.extendedErase = o.eraseCommand != "plain";
  uint8_t uid[12];
  makeUid(o, profile.pid, uid);
  ChipModel chip(profile, uid);
  chip.setLog(&log);
  chip.setWeakCells(faults.weakCells());
  if (!o.stateFile.empty() && access(o.stateFile.c_str(), F_OK) == 0) {
    if (!loadState(chip.memory(), profile, o.stateFile, error)) {
      fprintf(stderr, "kv32sim: %s\n", error.c_str());
      return 1;
    }
  }
  if (!o.loadFlashFile.empty() && !loadFlash(chip.memory(), o.loadFlashFile, error)) {
    fprintf(stderr, "kv32sim: %s\n", error.c_str());
    return 1;
  }
  if (o.protect) chip.setAccessLevel(static_cast<uint8_t>(o.protect));
  chip.reset();

  HostLine line;
  if (!line.open(error)) {
    fprintf(stderr, "kv32sim: %s\n", error.c_str());
    return 1;
  }
  line.setBaud(o.baud);
  line.setLatency(o.latencyMs);
  line.setFaults(&faults);
  line.setLog(&log);
  line.setStopFlag(&g_stop);

  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const std::string& pty = line.terminalPath();
  const std::string port = pty.rfind("/dev/", 0) == 0 ? pty.substr(5) : pty;
  printf("{\"pty\": \"%s\", \"port\": \"%s\"}\n", pty.c_str(), port.c_str());
  fflush(stdout);
  log.note("kv32sim: %s (PID %08X, series %u, %u KB, %u-byte sectors) on %s link, terminal %s",
           profile.name.c_str(), profile.peerId ? profile.peerId : profile.pid, profile.series, profile.flashKB,
           profile.sectorSize, o.link.c_str(), pty.c_str());

  const ChipTiming timing{o.eraseMs, o.writeUsPerByte};
  std::unique_ptr<ChipPort> link;
  std::unique_ptr<Bootloader> boot;
  const int timeout = static_cast<int>(o.timeoutMs);
  if (o.link == "can") {
    link = std::make_unique<CanLink>(line, &log, &faults, timeout);
    boot = std::make_unique<CanBootloader>(chip, *link, &faults, &log, timing);
  } else {
    if (o.link == "usart")
      link = std::make_unique<UsartLink>(line, &log, &faults, timeout);
    else
      link = std::make_unique<BridgeLink>(o.link == "i2c" ? BridgeLink::Bus::I2C : BridgeLink::Bus::SPI, line,
                                          &log, &faults, timeout, o.i2cAddress);
    boot = std::make_unique<ReferenceBootloader>(chip, *link, &faults, &log, timing);
  }
  boot->run();

  int rc = 0;
  if (!o.stateFile.empty() && !saveState(chip.memory(), profile, o.stateFile, error)) {
    fprintf(stderr, "kv32sim: %s\n", error.c_str());
    rc = 1;
  }
  if (!o.dumpFile.empty() && !dumpFlash(chip.memory(), o.dumpFile, error)) {
    fprintf(stderr, "kv32sim: %s\n", error.c_str());
    rc = 1;
  }
  log.note("kv32sim stops");
  return rc;
}
