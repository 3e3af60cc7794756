// The command layer: the reference Send_RQ and the helpers a flavour with
// sequences of its own uses, so that no frame rule or bounds check exists
// twice.
#ifndef KVBLREQUEST_H
#define KVBLREQUEST_H

#include "KVBL.h"
#include "KVBLFlavour.h"

namespace kvbl {

constexpr WORD kGetBlockMax = 64;    // largest GET block accepted
constexpr BYTE kPidMax = 5;          // largest product identifier
constexpr WORD kMaxTransfer = 256;   // READ/WRITE length on the wire (N-1 in one byte)
constexpr WORD kMaxFrame = 260;      // largest host byte string built here

// XOR of n bytes.
BYTE XorOf(const BYTE* p, size_t n);
// [A3][A2][A1][A0][XOR] of a 32-bit address.
void AddressFrame(DWORD address, BYTE out[5]);

// One host byte string through the flavour.
BYTE Write(const Flavour* f, HANDLE h, const BYTE* data, WORD n);
// Exactly n bytes through the flavour.
BYTE Read(const Flavour* f, HANDLE h, BYTE* data, WORD n);
// An "ACK?" step as Send_RQ reports it: the flavour's own, else the
// reference (read 1 byte: transport error passes up; another byte gives
// CMD_NOT_ALLOWED at the first acknowledge, CMD_FAIL later).
BYTE Ack(const Flavour* f, HANDLE h, BYTE cmd, AckPoint point);

// Fills a (cleared) descriptor from a GET block of `got` bytes: CmdCount,
// Version and the flags of the codes that arrived within CmdCount. A block
// shorter than 2 bytes is refused (READ_FAIL).
BYTE ParseGetBlock(TARGET_DESCRIPTOR* t, const BYTE* block, WORD got, bool countIsBlock0,
                   bool (*knowsCode)(BYTE));
// Stores a GET_ID answer [N][5 bytes]: PIDLen = N + 1, at most 5 (else
// CMD_FAIL); PID becomes a new buffer (the old one is the caller's to free).
BYTE StoreGetId(TARGET_DESCRIPTOR* t, const BYTE answer[6]);
// Makes `work` the port's descriptor, freeing an identifier it replaces.
void StoreDescriptor(int port, TARGET_DESCRIPTOR* work);

// Working copy of a port's descriptor for the commands that fill it (GET,
// GET_VER_ROPS, GET_ID): filled from the port's, stored back with store()
// when the command's last acknowledge arrived. The port's identifier buffer
// stays the port's; a new one that is never stored back is freed.
class WorkingDescriptor {
 public:
  explicit WorkingDescriptor(int port);
  ~WorkingDescriptor();
  WorkingDescriptor(const WorkingDescriptor&) = delete;
  WorkingDescriptor& operator=(const WorkingDescriptor&) = delete;
  bool valid() const { return m_valid; }  // false: the port has no descriptor
  void clear();                           // GET starts from a clear descriptor
  void store();
  TARGET_DESCRIPTOR t{};

 private:
  int m_port;
  bool m_valid = false;
  bool m_stored = false;
  LPBYTE m_portPid = nullptr;
};

// Sets the flag of one command code; false for an unknown code.
bool SetCommandFlag(TARGET_DESCRIPTOR* t, BYTE code);

// Checks a request's sizes and buffer before anything goes on the wire:
// INPUT_PARAMS_ERROR for counts of 0 or above what a frame can carry,
// INPUT_PARAMS_MEMORY_ALLOCATION_ERROR for a missing data buffer.
BYTE ValidateRequest(const KVBL_Request* rq);

// The reference Send_RQ (bridge-independent). The port must be open.
BYTE ReferenceSendRQ(const Flavour* f, HANDLE h, LPKVBL_Request rq);

}  // namespace kvbl

#endif  // KVBLREQUEST_H
