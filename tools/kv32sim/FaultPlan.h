// Faults the simulator injects on purpose, parsed from --fault options.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace kv32sim {

class SimLog;

// Fault descriptions (numbers decimal or 0x-hex, counts 1-based):
//   drop:N            the N-th byte sent to the host is not sent
//   flip:N[:MASK]     the N-th byte sent to the host is XORed with MASK (0x01)
//   nack:CMD[:K]      the K-th occurrence (1) of command CMD is refused at its
//                     first acknowledge
//   busy:K            the K-th bridge data frame is answered with status 0xFD
//   status:K:S        the K-th bridge data frame is answered with status S
//   stall:CMD[:K]     at the K-th occurrence (1) of command CMD the chip goes
//                     silent for good (the host's reopening its terminal does
//                     not end it: a real chip never sees that)
//   random:SEED:P     every byte sent to the host is dropped or flipped with
//                     probability P (0..1), from a generator seeded with SEED
//   unplug:N          the line goes away when the N-th byte from the host
//                     arrives: the simulator closes its side of the terminal
//                     (what a reader sees of a USB adapter pulled out), that
//                     byte and everything after it are lost, and it stops
//   weak:ADDR[:MASK]  a worn flash cell: the bits of MASK (0x01) of the byte
//                     at ADDR never program to 0, yet the write is acknowledged
class FaultPlan {
 public:
  // Adds one description; false (with a reason) when it is malformed.
  bool add(const std::string& spec, std::string& error);
  void setLog(SimLog* log) { m_log = log; }

  enum class ByteAction { Send, Drop, Flip };
  // Called for every byte about to go to the host, in order.
  ByteAction hostByte(uint8_t& value);
  // Called for every byte that arrives from the host, in order; true when
  // the line goes away at it.
  bool chipByte();
  // Called when a command starts; answers whether to refuse or stall it.
  enum class CommandAction { Serve, Nack, Stall };
  CommandAction command(uint8_t cmd);
  // Called for every bridge data frame; true with the status to answer.
  bool bridgeFrame(uint8_t& status);
  // Worn cells: address -> bits that stay 1 whatever is programmed.
  const std::map<uint32_t, uint8_t>& weakCells() const { return m_weak; }

 private:
  struct Byte { uint64_t index; bool drop; uint8_t mask; };
  struct Cmd { uint8_t cmd; uint64_t occurrence; bool stall; };
  struct Frame { uint64_t index; uint8_t status; };
  std::vector<Byte> m_bytes;
  std::vector<Cmd> m_cmds;
  std::vector<Frame> m_frames;
  uint64_t m_unplugAt = 0;  // 0: never
  uint64_t m_chipBytes = 0;
  bool m_random = false;
  double m_probability = 0;
  std::mt19937_64 m_rng;
  uint64_t m_hostBytes = 0;
  uint64_t m_bridgeFrames = 0;
  std::map<uint8_t, uint64_t> m_cmdCount;
  std::map<uint32_t, uint8_t> m_weak;
  SimLog* m_log = nullptr;
};

// Parses a decimal or 0x-hexadecimal unsigned number that fits in max.
bool parseNumber(const std::string& text, uint64_t max, uint64_t& value);

}  // namespace kv32sim
