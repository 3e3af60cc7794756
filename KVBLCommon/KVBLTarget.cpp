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

}  // namespace

extern "C" {

KVBL_API BYTE TARGET_GetFlashSize(HANDLE hCOM, DWORD Addr, LPWORD val) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::READ_CMD, &c);
  if (r != SUCCESS) return r;
  if (val == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  BYTE b[2];
  if ((r = readBytes(hCOM, Addr, b, 2)) != SUCCESS) return r;
  *val = static_cast<WORD>(b[0] | (b[1] << 8));
  return SUCCESS;
}

KVBL_API BYTE TARGET_GetMemoryAddress(HANDLE hCOM, DWORD Addr, LPBYTE val) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::READ_CMD, &c);
  if (r != SUCCESS) return r;
  if (val == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  BYTE b[2];
  if ((r = readBytes(hCOM, Addr, b, 1)) != SUCCESS) return r;
  *val = b[0];
  return SUCCESS;
}

KVBL_API BYTE TARGET_GetFAPUserSystemData(HANDLE hCOM, LPBYTE FAP) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::READ_CMD, &c);
  if (r != SUCCESS) return r;
  if (FAP == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  BYTE b[8];
  if ((r = readBytes(hCOM, ADDR_FAP_OPB, b, 8)) != SUCCESS) return r;
  if (b[0] == 0xFF && b[1] == 0xFF) *FAP = 0xFF;
  else if (b[0] + b[1] == 0xFF) *FAP = 0xA5;
  else *FAP = 0xFF;
  return SUCCESS;
}

KVBL_API BYTE TARGET_GetEPPUserSystemData(HANDLE hCOM, LPBYTE EPP0, LPBYTE EPP1, LPBYTE EPP2,
                                          LPBYTE EPP3) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::READ_CMD, &c);
  if (r != SUCCESS) return r;
  if (!EPP0 || !EPP1 || !EPP2 || !EPP3) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  BYTE b[8];
  if ((r = readBytes(hCOM, ADDR_EPP0_OPB, b, 8)) != SUCCESS) return r;
  *EPP0 = b[0];
  *EPP1 = b[2];
  if ((r = readBytes(hCOM, ADDR_EPP2_OPB, b, 8)) != SUCCESS) return r;
  *EPP2 = b[0];
  *EPP3 = b[2];
  return SUCCESS;
}

KVBL_API BYTE TARGET_GetUserUserSystemData(HANDLE hCOM, LPBYTE User) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::READ_CMD, &c);
  if (r != SUCCESS) return r;
  if (User == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  BYTE b[8];
  if ((r = readBytes(hCOM, ADDR_USER_OPB, b, 8)) != SUCCESS) return r;
  *User = b[2];
  return SUCCESS;
}

KVBL_API BYTE TARGET_GetDataUserSystemData(HANDLE hCOM, LPBYTE Data0, LPBYTE Data1) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::READ_CMD, &c);
  if (r != SUCCESS) return r;
  if (!Data0 || !Data1) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  BYTE b[8];
  if ((r = readBytes(hCOM, ADDR_DATA_OPB, b, 8)) != SUCCESS) return r;
  *Data0 = b[0];
  *Data1 = b[2];
  return SUCCESS;
}

KVBL_API BYTE TARGET_SetUserSystemData(HANDLE hCOM, DWORD Addr, LPBYTE UserSystemData,
                                       DWORD Length) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::READ_CMD, &c);
  if (r != SUCCESS) return r;
  if (UserSystemData == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  if (Length == 0 || Length > kMaxOptionBytes) return INPUT_PARAMS_ERROR;
  std::vector<BYTE> pairs(2 * Length);
  for (DWORD i = 0; i < Length; ++i) {
    pairs[2 * i] = UserSystemData[i];
    pairs[2 * i + 1] = static_cast<BYTE>(~UserSystemData[i]);
  }
  const DWORD P = PacketSize(c.port);
  for (DWORD off = 0; off < pairs.size();) {
    const DWORD n = pairs.size() - off < P ? pairs.size() - off : P;
    if ((r = KVBL_WRITE(hCOM, Addr + off, static_cast<BYTE>(n), &pairs[off])) != SUCCESS) return r;
    off += n;
  }
  return SUCCESS;
}

KVBL_API BYTE TARGET_GetUserSystemData(HANDLE hCOM, DWORD Addr, BYTE* UserSystemData,
                                       DWORD Length) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::READ_CMD, &c);
  if (r != SUCCESS) return r;
  if (UserSystemData == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  if (Length == 0 || Length > kMaxOptionBytes) return INPUT_PARAMS_ERROR;
  std::vector<BYTE> pairs(2 * Length, 0xFF);
  const DWORD P = PacketSize(c.port);
  BYTE buf[KVBL_MAX_PACKET];
  for (DWORD off = 0; off < pairs.size();) {
    const DWORD n = pairs.size() - off < P ? pairs.size() - off : P;
    std::memset(buf, 0xFF, sizeof(buf));
    if ((r = KVBL_READ(hCOM, Addr + off, static_cast<BYTE>(n), buf)) != SUCCESS) return r;
    std::memcpy(&pairs[off], buf, n);
    off += n;
  }
  for (DWORD j = 0; j < Length; ++j) UserSystemData[j] = pairs[2 * j];
  return SUCCESS;
}

}  // extern "C"
