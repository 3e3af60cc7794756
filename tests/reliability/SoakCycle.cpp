#include "SoakCycle.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "KVBL.h"

namespace {

const SoakLink kLinks[] = {
    {"usart", KVBL_INTERFACE_USART, 0, 0},
    {"i2c", KVBL_INTERFACE_I2C, 0x3C, 400000},
    {"spi", KVBL_INTERFACE_SPI, 0, 150000},
    {"can", KVBL_INTERFACE_CAN, 0, 2},
};

std::vector<BYTE> Pattern(size_t n, unsigned seed) {
  std::vector<BYTE> b(n);
  unsigned x = seed * 2654435761u + 7;
  for (BYTE& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<BYTE>(x >> 16);
  }
  return b;
}

std::string Failed(const char* step, BYTE r) { return std::string(step) + " " + std::to_string(r); }

std::string Run(HANDLE h, const SoakLink& link, unsigned cycle, unsigned sectors) {
  BYTE r = SetTimeOut(h, 1000);
  if (r != SUCCESS) return Failed("time-out", r);
  if ((r = KVBL_Init_BL(h, link.initAddress, link.initRate, 0)) != SUCCESS) return Failed("start", r);
  BYTE version = 0;
  Commands cmds{};
  if ((r = KVBL_GET(h, &version, &cmds)) != SUCCESS) return Failed("GET", r);
  BYTE size = 0;
  if ((r = KVBL_GET_ID(h, &size, nullptr)) != SUCCESS || size == 0 || size > 5) return Failed("GET_ID size", r);
  BYTE pid[5];
  if ((r = KVBL_GET_ID(h, &size, pid)) != SUCCESS) return Failed("GET_ID", r);
  BYTE v = 0, rope = 0, ropd = 0;
  if ((r = KVBL_GET_VER_ROPS(h, &v, &rope, &ropd)) != SUCCESS) return Failed("GET_VER_ROPS", r);
  if ((r = SetPaketSize(h, 252)) != SUCCESS) return Failed("packet size", r);

  std::vector<BYTE> list;
  for (unsigned s = 0; s < sectors; ++s) {
    list.push_back(static_cast<BYTE>(s));
    list.push_back(static_cast<BYTE>(s >> 8));
  }
  if ((r = KVBL_ERASE(h, static_cast<WORD>(sectors), list.data(), 2048)) != SUCCESS) return Failed("erase", r);
  std::vector<BYTE> image = Pattern(sectors * 2048u, cycle);
  if ((r = KVBL_DNLOAD(h, 0x08000000, image.data(), DWORD(image.size()), 0)) != SUCCESS)
    return Failed("download", r);
  if ((r = KVBL_VERIFY(h, 0x08000000, image.data(), DWORD(image.size()), 0)) != SUCCESS)
    return Failed("verify", r);
  return std::string();
}

}  // namespace

const SoakLink* FindSoakLink(const std::string& name) {
  for (const SoakLink& l : kLinks)
    if (name == l.name) return &l;
  return nullptr;
}

std::string SoakCycle(const SoakLink& link, const std::string& portName, unsigned cycle, unsigned sectors) {
  TARGET_SetComIntType(link.type);
  HANDLE h = nullptr;
  std::string name = portName;
  BYTE r = SetCOMSettings(&h, 11, &name[0], 115200, 8, 2, 1.0f);
  if (r != SUCCESS) return Failed("settings", r);
  if ((r = Interface_Open(h)) != SUCCESS) return Failed("open", r);
  const std::string why = Run(h, link, cycle, sectors);
  Interface_Close(h);
  return why;
}

ProcessUsage CurrentUsage() {
  ProcessUsage u;
  if (DIR* d = opendir("/proc/self/fd")) {
    int n = 0;
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
    u.openDescriptors = n - 1;  // the listing's own descriptor
  }
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> u.rssKb;
      break;
    }
    status.ignore(1 << 16, '\n');
  }
  return u;
}
