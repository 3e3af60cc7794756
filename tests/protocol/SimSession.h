// One kv32sim and one port of the linked protocol library connected to it.
#ifndef PROTOCOL_SIMSESSION_H
#define PROTOCOL_SIMSESSION_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KVBL.h"
#include "SimProcess.h"

class SimSession {
 public:
  ~SimSession() { close(); }

  // Starts kv32sim with the link's name and extra options, stores the
  // settings and opens the port.
  ::testing::AssertionResult open(const std::string& link, std::vector<std::string> extra = {},
                                  int port = 11, long baud = 115200, DWORD timeoutMs = 1000) {
    std::vector<std::string> args = {"--link", link, "--map", kvtest::mapDir()};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!sim.start(args)) return ::testing::AssertionFailure() << "kv32sim did not start";
    std::string name = sim.portName();
    BYTE r = SetCOMSettings(&h, port, &name[0], baud, 8, 2, 1.0f);
    if (r != SUCCESS) return ::testing::AssertionFailure() << "SetCOMSettings " << int(r);
    if ((r = Interface_Open(h)) != SUCCESS) return ::testing::AssertionFailure() << "open " << int(r);
    if ((r = SetTimeOut(h, timeoutMs)) != SUCCESS) return ::testing::AssertionFailure() << "timeout";
    return ::testing::AssertionSuccess();
  }

  // GET, GET_ID, GET_VER_ROPS and the packet size, as a client connects.
  ::testing::AssertionResult identify(BYTE packet = 252) {
    BYTE version = 0;
    BYTE r = KVBL_GET(h, &version, &cmds);
    if (r != SUCCESS) return ::testing::AssertionFailure() << "GET " << int(r);
    BYTE size = 0;
    if ((r = KVBL_GET_ID(h, &size, nullptr)) != SUCCESS)
      return ::testing::AssertionFailure() << "GET_ID " << int(r);
    pid.assign(size, 0);
    if ((r = KVBL_GET_ID(h, &size, pid.data())) != SUCCESS)
      return ::testing::AssertionFailure() << "GET_ID " << int(r);
    BYTE v, rope, ropd;
    if ((r = KVBL_GET_VER_ROPS(h, &v, &rope, &ropd)) != SUCCESS)
      return ::testing::AssertionFailure() << "GET_VER_ROPS " << int(r);
    if ((r = SetPaketSize(h, packet)) != SUCCESS)
      return ::testing::AssertionFailure() << "packet " << int(r);
    return ::testing::AssertionSuccess();
  }

  void close() {
    if (h && Interface_is_Open(h)) Interface_Close(h);
    sim.stop();
  }

  kvtest::SimProcess sim;
  HANDLE h = nullptr;
  Commands cmds{};
  std::vector<BYTE> pid;
};

// Starts kv32sim on the link and connects to it as the program does for its
// interface type (bridge start, and for CAN the speed), then identifies the
// chip.
inline ::testing::AssertionResult ConnectAsTheProgram(SimSession& s, const std::string& link, BYTE type,
                                                      std::vector<std::string> extra = {}, int port = 15,
                                                      long baud = 115200, DWORD timeoutMs = 1000) {
  if (TARGET_SetComIntType(type) != SUCCESS) return ::testing::AssertionFailure() << "type";
  auto opened = s.open(link, extra, port, baud, timeoutMs);
  if (!opened) return opened;
  BYTE code = SUCCESS;
  switch (type) {
    case KVBL_INTERFACE_USART:
      code = KVBL_Init_BL(s.h, 0, 0, 0);
      if (code == SUCCESS) KVBL_KV32ISP_TOOL(s.h);  // a notice; its answer is not needed
      break;
    case KVBL_INTERFACE_I2C: code = KVBL_Init_BL(s.h, 0x3C, 400000, 0); break;
    case KVBL_INTERFACE_CAN:
      code = KVBL_Init_BL(s.h, 0, 2, 0);
      if (code == SUCCESS) code = KVBL_SetSpeed(s.h, 2);
      break;
    default: code = KVBL_Init_BL(s.h, 0, 150000, 0); break;
  }
  if (code != SUCCESS) return ::testing::AssertionFailure() << "start " << int(code);
  return s.identify();
}

// Sector numbers as KVBL_ERASE takes them (2 bytes each, LSB first).
inline std::vector<BYTE> SectorList(unsigned first, unsigned count) {
  std::vector<BYTE> b;
  for (unsigned i = first; i < first + count; ++i) {
    b.push_back(static_cast<BYTE>(i));
    b.push_back(static_cast<BYTE>(i >> 8));
  }
  return b;
}

inline std::vector<BYTE> Pattern(size_t n, unsigned seed) {
  std::vector<BYTE> b(n);
  unsigned x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<BYTE>(x >> 16);
  }
  return b;
}

#endif  // PROTOCOL_SIMSESSION_H
