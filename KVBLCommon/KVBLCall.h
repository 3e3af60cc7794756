// The common prologue of the interface functions: port open, flavour bound,
// then the descriptor flag the command needs (before any pointer check and
// before any traffic).
#ifndef KVBLCALL_H
#define KVBLCALL_H

#include "KVBL.h"
#include "KVBLFlavour.h"

namespace kvbl {

struct Call {
  HANDLE h = nullptr;
  int port = -1;
  const Flavour* f = nullptr;
  TARGET_DESCRIPTOR* t = nullptr;
};

// The checks every interface function makes first: an open port with its
// flavour and descriptor, the command's flag (null: no flag check), then the
// caller's pointers (`given` false: INPUT_PARAMS_MEMORY_ALLOCATION_ERROR).
BYTE Begin(HANDLE h, BOOL TARGET_DESCRIPTOR::*flag, Call* c, bool given = true);
// True when [address, address + length) lies within the 32-bit address
// space the protocol carries (never wrapped on the wire).
inline bool Fits32(DWORD address, DWORD length) {
  return address <= 0xFFFFFFFFul && length <= 0x100000000ul - address;
}
// A request for one command with every other field zero.
KVBL_Request Request(BYTE cmd);
// Raw packet write of an even length that the caller has checked.
BYTE WritePacket(HANDLE h, DWORD address, LPBYTE data, WORD evenLength);

}  // namespace kvbl

#endif  // KVBLCALL_H
