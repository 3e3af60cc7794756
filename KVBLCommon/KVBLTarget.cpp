// Option bytes and single values of chip memory, read and written through
// READ and WRITE. Option bytes travel as value/complement pairs.
#include <cstring>
#include <vector>

#include "KVBLCall.h"
#include "KVBLPorts.h"

extern "C" {
const DWORD ADDR_F1_OPB = 0x1FFFF800;
const DWORD ADDR_F2_OPB = 0x1FFFC000;
const DWORD ADDR_L1_OPB = 0x1FF80000;
const DWORD ADDR_USER_OPB = 0x1FFFF800;
const DWORD ADDR_FAP_OPB = 0x1FFFF800;
const DWORD ADDR_DATA_OPB = 0x1FFFF804;
const DWORD ADDR_EPP0_OPB = 0x1FFFF808;
const DWORD ADDR_EPP2_OPB = 0x1FFFF80C;
}

using namespace kvbl;

namespace {

constexpr DWORD kMaxOptionBytes = 0x8000;  // values per call (pairs: 64 KB)

// Reads n bytes at addr into out (preset to 0xFF), after the port and READ
// flag checks every TARGET_ function makes.
BYTE readBytes(HANDLE h, DWORD addr, BYTE* out, BYTE n) {
  Call c;
  BYTE r = Begin(h, &TARGET_DESCRIPTOR::READ_CMD, &c);
  if (r != SUCCESS) return r;
  std::memset(out, 0xFF, n + (n & 1u));
  return KVBL_READ(h, addr, n, out);
}

// Every TARGET_ function: the port and READ flag checks, then its pointers
// (`given`), then what it does with the checked call.
template <class Body>
BYTE checkedCall(HANDLE h, bool given, Body body) {
  Call c;
  const BYTE r = Begin(h, &TARGET_DESCRIPTOR::READ_CMD, &c, given);
  return r != SUCCESS ? r : body(c);
}

// Reads n (at most 8) bytes at addr and hands them to use on success.
template <class Use>
BYTE readThen(HANDLE h, DWORD addr, BYTE n, Use use) {
  BYTE b[8];
  const BYTE r = readBytes(h, addr, b, n);
  if (r == SUCCESS) use(b);
  return r;
}

// The option-byte transfers: the checks (a length of 1 to kMaxOptionBytes
// values), then move(offset, n) for each packet of the 2 x length pair bytes.
template <class Move>
BYTE pairTransfer(HANDLE h, const BYTE* data, DWORD length, Move move) {
  return checkedCall(h, data != nullptr, [&](const Call& c) -> BYTE {
    if (length == 0 || length > kMaxOptionBytes) return INPUT_PARAMS_ERROR;
    const DWORD total = 2 * length;
    const DWORD P = PacketSize(c.port);
    for (DWORD off = 0; off < total;) {
      const DWORD n = total - off < P ? total - off : P;
      const BYTE r = move(off, static_cast<BYTE>(n));
      if (r != SUCCESS) return r;
      off += n;
    }
    return SUCCESS;
  });
}

}  // namespace

extern "C" {

KVBL_API BYTE TARGET_GetFlashSize(HANDLE hCOM, DWORD Addr, LPWORD val) {
  return checkedCall(hCOM, val != nullptr, [&](const Call&) {
    return readThen(hCOM, Addr, 2, [&](const BYTE* b) { *val = static_cast<WORD>(b[0] | (b[1] << 8)); });
  });
}

KVBL_API BYTE TARGET_GetMemoryAddress(HANDLE hCOM, DWORD Addr, LPBYTE val) {
  return checkedCall(hCOM, val != nullptr, [&](const Call&) {
    return readThen(hCOM, Addr, 1, [&](const BYTE* b) { *val = b[0]; });
  });
}

KVBL_API BYTE TARGET_GetFAPUserSystemData(HANDLE hCOM, LPBYTE FAP) {
  return checkedCall(hCOM, FAP != nullptr, [&](const Call&) {
    return readThen(hCOM, ADDR_FAP_OPB, 8, [&](const BYTE* b) {
      if (b[0] == 0xFF && b[1] == 0xFF) *FAP = 0xFF;
      else if (b[0] + b[1] == 0xFF) *FAP = 0xA5;
      else *FAP = 0xFF;
    });
  });
}

KVBL_API BYTE TARGET_GetEPPUserSystemData(HANDLE hCOM, LPBYTE EPP0, LPBYTE EPP1, LPBYTE EPP2,
                                          LPBYTE EPP3) {
  return checkedCall(hCOM, EPP0 && EPP1 && EPP2 && EPP3, [&](const Call&) {
    const BYTE r = readThen(hCOM, ADDR_EPP0_OPB, 8, [&](const BYTE* b) {
      *EPP0 = b[0];
      *EPP1 = b[2];
    });
    if (r != SUCCESS) return r;
    return readThen(hCOM, ADDR_EPP2_OPB, 8, [&](const BYTE* b) {
      *EPP2 = b[0];
      *EPP3 = b[2];
    });
  });
}

KVBL_API BYTE TARGET_GetUserUserSystemData(HANDLE hCOM, LPBYTE User) {
  return checkedCall(hCOM, User != nullptr, [&](const Call&) {
    return readThen(hCOM, ADDR_USER_OPB, 8, [&](const BYTE* b) { *User = b[2]; });
  });
}

KVBL_API BYTE TARGET_GetDataUserSystemData(HANDLE hCOM, LPBYTE Data0, LPBYTE Data1) {
  return checkedCall(hCOM, Data0 && Data1, [&](const Call&) {
    return readThen(hCOM, ADDR_DATA_OPB, 8, [&](const BYTE* b) {
      *Data0 = b[0];
      *Data1 = b[2];
    });
  });
}

KVBL_API BYTE TARGET_SetUserSystemData(HANDLE hCOM, DWORD Addr, LPBYTE UserSystemData,
                                       DWORD Length) {
  std::vector<BYTE> pairs;
  return pairTransfer(hCOM, UserSystemData, Length, [&](DWORD off, BYTE n) {
    if (off == 0) {
      pairs.resize(2 * Length);
      for (DWORD i = 0; i < Length; ++i) {
        pairs[2 * i] = UserSystemData[i];
        pairs[2 * i + 1] = static_cast<BYTE>(~UserSystemData[i]);
      }
    }
    return KVBL_WRITE(hCOM, Addr + off, n, &pairs[off]);
  });
}

KVBL_API BYTE TARGET_GetUserSystemData(HANDLE hCOM, DWORD Addr, BYTE* UserSystemData,
                                       DWORD Length) {
  std::vector<BYTE> pairs;
  const BYTE r = pairTransfer(hCOM, UserSystemData, Length, [&](DWORD off, BYTE n) {
    if (off == 0) pairs.assign(2 * Length, 0xFF);
    BYTE buf[KVBL_MAX_PACKET];
    std::memset(buf, 0xFF, sizeof(buf));
    const BYTE read = KVBL_READ(hCOM, Addr + off, n, buf);
    if (read == SUCCESS) std::memcpy(&pairs[off], buf, n);
    return read;
  });
  if (r != SUCCESS) return r;
  for (DWORD j = 0; j < Length; ++j) UserSystemData[j] = pairs[2 * j];
  return SUCCESS;
}

}  // extern "C"
