// The command functions of the interface: each checks its port and flag,
// builds one request and hands it to Send_RQ.
#include <cstring>

#include "KVBLCall.h"
#include "KVBLPorts.h"
#include "KVBLRecovery.h"
#include "KVBLRequest.h"

namespace kvbl {

BYTE Begin(HANDLE h, BOOL TARGET_DESCRIPTOR::*flag, Call* c, bool given) {
  c->h = h;
  c->port = PortOf(h);
  if (!IsOpen(c->port)) return NO_CON_AVAILABLE;
  c->f = FlavourOf(c->port);
  c->t = Descriptor(c->port);
  if (c->f == nullptr || c->t == nullptr) return NO_CON_AVAILABLE;
  if (flag && !(c->t->*flag)) return CMD_NOT_ALLOWED;
  if (!given) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  return SUCCESS;
}

KVBL_Request Request(BYTE cmd) {
  KVBL_Request rq;
  std::memset(&rq, 0, sizeof(rq));
  rq._cmd = cmd;
  return rq;
}

BYTE WritePacket(HANDLE h, DWORD address, LPBYTE data, WORD evenLength) {
  KVBL_Request rq = Request(WRITE_CMD);
  rq._address = address;
  rq._length = evenLength;
  rq._data = data;
  return Send_RQ(h, &rq);
}

namespace {

// A command without parameters that adds 1 to Progress when it succeeds.
BYTE simpleCommand(HANDLE h, BOOL TARGET_DESCRIPTOR::*flag, BYTE cmd, bool counts) {
  Call c;
  BYTE r = Begin(h, flag, &c);
  if (r != SUCCESS) return r;
  KVBL_Request rq = Request(cmd);
  r = Send_RQ(h, &rq);
  if (r == SUCCESS && counts) ++Progress;
  return r;
}

DWORD be32(const BYTE* p) {
  return (static_cast<DWORD>(p[0]) << 24) | (static_cast<DWORD>(p[1]) << 16) |
         (static_cast<DWORD>(p[2]) << 8) | p[3];
}

// Even transfer length of a one-byte size, bounded by the packet buffer.
BYTE evenLength(int port, DWORD address, BYTE size, WORD* even) {
  const unsigned n = size + (size & 1u);
  if (n == 0 || n > PacketSize(port) || !Fits32(address, n)) return INPUT_PARAMS_ERROR;
  *even = static_cast<WORD>(n);
  return SUCCESS;
}

}  // namespace

// Exported as KVBL_ERASEPROGRAM_PROTECT by every library, each with the
// parameters of its own header (KVBLFlavour.h).
BYTE EraseProgramProtect(HANDLE hCOM, BYTE NbSectors, LPBYTE pSectors) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::ERASEPROGRAM_PROTECT_CMD, &c, pSectors != nullptr);
  if (r != SUCCESS) return r;
  BYTE copy[256];
  std::memcpy(copy, pSectors, NbSectors);
  KVBL_Request rq = Request(ERASEPROGRAM_PROTECT_CMD);
  rq._nbSectors = NbSectors;
  rq._length = NbSectors;
  rq._data = copy;
  r = Send_RQ(hCOM, &rq);
  if (r == SUCCESS) ++Progress;
  return r;
}

}  // namespace kvbl

using namespace kvbl;

extern "C" {

KVBL_API BYTE KVBL_Init_BL(HANDLE hCOM, WORD addr, DWORD rate, BYTE dutyCycle) {
  const int port = PortOf(hCOM);
  if (port < 0) return INPUT_PARAMS_ERROR;
  const Flavour* f = FlavourOf(port);
  if (f == nullptr || f->initBL == nullptr) return NO_CON_AVAILABLE;
  if (!IsOpen(port) || f->resync == nullptr) return f->initBL(hCOM, addr, rate, dutyCycle);
  return StartWithRecovery(f, hCOM, addr, rate, dutyCycle);
}

KVBL_API BYTE KVBL_SetSpeed(HANDLE hCOM, DWORD speed) {
  const Flavour* f = FlavourOf(PortOf(hCOM));
  if (f == nullptr || f->setSpeed == nullptr) return CMD_NOT_ALLOWED;
  return f->setSpeed(hCOM, speed);
}

KVBL_API BYTE KVBL_GET(HANDLE hCOM, LPBYTE Version, LPCommands pCmds) {
  Call c;
  BYTE r = Begin(hCOM, nullptr, &c, Version && pCmds);
  if (r != SUCCESS) return r;
  SelectAckVariant();
  KVBL_Request rq = Request(GET_CMD);
  r = Send_RQ(hCOM, &rq);
  if (r != SUCCESS) return r;
  const TARGET_DESCRIPTOR* t = Descriptor(c.port);
  *Version = t->Version;
  const BOOL keepSpeed = pCmds->SET_SPEED_CMD;
  // The flags are laid out identically in both records.
  static_assert(sizeof(Commands) == 24 * sizeof(BOOL), "Commands holds 24 flags");
  std::memcpy(pCmds, &t->GET_CMD, sizeof(Commands));
  pCmds->SET_SPEED_CMD = keepSpeed;
  return SUCCESS;
}

KVBL_API BYTE KVBL_GET_VER_ROPS(HANDLE hCOM, LPBYTE Version, LPBYTE ROPEnabled,
                                LPBYTE ROPDisabled) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::GET_VER_ROPS_CMD, &c, Version && ROPEnabled && ROPDisabled);
  if (r != SUCCESS) return r;
  KVBL_Request rq = Request(GET_VER_ROPS_CMD);
  if ((r = Send_RQ(hCOM, &rq)) != SUCCESS) return r;
  const TARGET_DESCRIPTOR* t = Descriptor(c.port);
  *Version = t->Version;
  *ROPEnabled = t->ROPD;
  *ROPDisabled = t->ROPE;
  return SUCCESS;
}

// With a buffer, *size on entry is its capacity (the length an earlier call
// reported): an identifier that grew in between is refused, not overrun.
KVBL_API BYTE KVBL_GET_ID(HANDLE hCOM, LPBYTE size, LPBYTE pID) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::GET_ID_CMD, &c, size != nullptr);
  if (r != SUCCESS) return r;
  const BYTE capacity = *size;
  KVBL_Request rq = Request(GET_ID_CMD);
  if ((r = Send_RQ(hCOM, &rq)) != SUCCESS) return r;
  const TARGET_DESCRIPTOR* t = Descriptor(c.port);
  *size = t->PIDLen;
  if (pID != nullptr) {
    if (t->PIDLen > capacity) return INPUT_PARAMS_ERROR;
    if (t->PID && t->PIDLen) std::memcpy(pID, t->PID, t->PIDLen);
  }
  return SUCCESS;
}

KVBL_API BYTE KVBL_READ(HANDLE hCOM, DWORD Address, BYTE Size, LPBYTE pData) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::READ_CMD, &c, pData != nullptr);
  if (r != SUCCESS) return r;
  WORD n = 0;
  if ((r = evenLength(c.port, Address, Size, &n)) != SUCCESS) return r;
  BYTE buf[KVBL_MAX_PACKET];
  std::memset(buf, 0xFF, sizeof(buf));
  KVBL_Request rq = Request(READ_CMD);
  rq._address = Address;
  rq._length = n;
  rq._data = buf;
  if ((r = Send_RQ(hCOM, &rq)) != SUCCESS) return r;
  std::memcpy(pData, buf, n);
  return SUCCESS;
}

// An odd size is sent one byte longer; that byte is 0xFF, never read from
// beyond the caller's buffer.
KVBL_API BYTE KVBL_WRITE(HANDLE hCOM, DWORD address, BYTE size, LPBYTE pData) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::WRITE_CMD, &c, pData != nullptr);
  if (r != SUCCESS) return r;
  WORD n = 0;
  if ((r = evenLength(c.port, address, size, &n)) != SUCCESS) return r;
  BYTE buf[KVBL_MAX_PACKET];
  std::memset(buf, 0xFF, sizeof(buf));
  std::memcpy(buf, pData, size);
  return WritePacket(hCOM, address, buf, n);
}

KVBL_API BYTE KVBL_GO(HANDLE hCOM, DWORD Address) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::GO_CMD, &c);
  if (r != SUCCESS) return r;
  if (!Fits32(Address, 1)) return INPUT_PARAMS_ERROR;
  KVBL_Request rq = Request(GO_CMD);
  rq._address = Address;
  return Send_RQ(hCOM, &rq);
}

KVBL_API BYTE KVBL_ERASEPROGRAM_TEMP_UNPROTECT(HANDLE hCOM) {
  return simpleCommand(hCOM, &TARGET_DESCRIPTOR::ERASEPROGRAM_TEMP_UNPROTECT_CMD,
                       ERASEPROGRAM_TEMP_UNPROTECT_CMD, true);
}

KVBL_API BYTE KVBL_ERASEPROGRAM_PERM_UNPROTECT(HANDLE hCOM) {
  return simpleCommand(hCOM, &TARGET_DESCRIPTOR::ERASEPROGRAM_PERM_UNPROTECT_CMD,
                       ERASEPROGRAM_PERM_UNPROTECT_CMD, true);
}

KVBL_API BYTE KVBL_ACCESS_PROTECT(HANDLE hCOM) {
  return simpleCommand(hCOM, &TARGET_DESCRIPTOR::ACCESS_PERM_PROTECT_CMD, ACCESS_PROTECT_CMD, true);
}

KVBL_API BYTE KVBL_ACCESS_TEMP_UNPROTECT(HANDLE hCOM) {
  return simpleCommand(hCOM, &TARGET_DESCRIPTOR::ACCESS_TEMP_UNPROTECT_CMD,
                       ACCESS_TEMP_UNPROTECT_CMD, true);
}

KVBL_API BYTE KVBL_ACCESS_PERM_UNPROTECT(HANDLE hCOM) {
  return simpleCommand(hCOM, &TARGET_DESCRIPTOR::ACCESS_PERM_UNPROTECT_CMD,
                       ACCESS_PERM_UNPROTECT_CMD, true);
}

KVBL_API BYTE KVBL_ResetMCU(HANDLE hCOM) {
  return simpleCommand(hCOM, &TARGET_DESCRIPTOR::RESET_MCU_CMD, RESET_MCU_CMD, false);
}

KVBL_API BYTE KVBL_KV32ISP_TOOL(HANDLE hCOM) {
  return simpleCommand(hCOM, nullptr, KV32_ISP_CMD, false);
}

KVBL_API BYTE KVBL_ACCESS_PROTECT_LEVEL(HANDLE hCOM, BYTE Level) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::ACCESS_LEVEL_PROTECT_CMD, &c);
  if (r != SUCCESS) return r;
  KVBL_Request rq = Request(ACCESS_LEVEL_PROTECT_CMD);
  rq._RemapFlag = Level;
  return Send_RQ(hCOM, &rq);
}

KVBL_API BYTE KVBL_SPIMREMAP(HANDLE hCOM, BYTE Flag) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::REMAP_ENABLE_CMD, &c);
  if (r != SUCCESS) return r;
  KVBL_Request rq = Request(REMAP_ENABLE_CMD);
  rq._RemapFlag = Flag;
  return Send_RQ(hCOM, &rq);
}

KVBL_API BYTE KVBL_GetFirmwareCRC(HANDLE hCOM, DWORD Address, WORD SectorNum, LPBYTE pData) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::FIRMWARE_CRC_CMD, &c, pData != nullptr);
  if (r != SUCCESS) return r;
  BYTE crc[4] = {0, 0, 0, 0};
  KVBL_Request rq = Request(FIRMWARE_CRC_CMD);
  rq._address = Address;
  rq._length = SectorNum;
  rq._data = crc;
  if ((r = Send_RQ(hCOM, &rq)) != SUCCESS) return r;
  const uint32_t v = static_cast<uint32_t>(crc[0]) | (static_cast<uint32_t>(crc[1]) << 8) |
                     (static_cast<uint32_t>(crc[2]) << 16) | (static_cast<uint32_t>(crc[3]) << 24);
  std::memcpy(pData, &v, 4);
  return SUCCESS;
}

KVBL_API BYTE KVBL_EnableBank3(HANDLE hCOM, BYTE FlashType, DWORD FlashSize, DWORD FlashDA) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::ENABLE_BANK3_CMD, &c);
  if (r != SUCCESS) return r;
  KVBL_Request rq = Request(ENABLE_BANK3_CMD);
  rq._flashtype = FlashType;
  rq._flashsize = FlashSize;
  rq._flashDA = FlashDA;
  return Send_RQ(hCOM, &rq);
}

KVBL_API BYTE KVBL_EnableSlib(HANDLE hCOM, DWORD Password, WORD StartSector,
                              WORD StartDataSector, WORD EndSector) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::ENABLE_SLIB_CMD, &c);
  if (r != SUCCESS) return r;
  KVBL_Request rq = Request(ENABLE_SLIB_CMD);
  rq._SlibPassword = Password;
  rq._SlibStartSector = StartSector;
  rq._SlibStartDataSector = StartDataSector;
  rq._SlibEndSector = EndSector;
  return Send_RQ(hCOM, &rq);
}

KVBL_API BYTE KVBL_DisableSlib(HANDLE hCOM, DWORD Password) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::DISABLE_SLIB_CMD, &c);
  if (r != SUCCESS) return r;
  KVBL_Request rq = Request(DISABLE_SLIB_CMD);
  rq._SlibPassword = Password;
  return Send_RQ(hCOM, &rq);
}

namespace {
BYTE slibStatus(HANDLE hCOM, LPDWORD* outs, int count) {
  Call c;
  BYTE r = Begin(hCOM, &TARGET_DESCRIPTOR::GET_SLIB_STATUS_CMD, &c);
  if (r != SUCCESS) return r;
  for (int i = 0; i < count; ++i)
    if (outs[i] == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  BYTE buf[16];
  std::memset(buf, 0, sizeof(buf));
  KVBL_Request rq = Request(GET_SLIB_STATUS_CMD);
  rq._length = static_cast<WORD>(4 * count);
  rq._data = buf;
  if ((r = Send_RQ(hCOM, &rq)) != SUCCESS) return r;
  for (int i = 0; i < count; ++i) *outs[i] = be32(buf + 4 * i);
  return SUCCESS;
}
}  // namespace

KVBL_API BYTE KVBL_GetSlibStatus(HANDLE hCOM, LPDWORD SlibStatus, LPDWORD SectorStatus,
                                 LPDWORD PasswordStatus) {
  LPDWORD outs[3] = {SlibStatus, SectorStatus, PasswordStatus};
  const BYTE r = slibStatus(hCOM, outs, 3);
  const Flavour* f = FlavourOf(PortOf(hCOM));
  if (f && f->onSlibStatus && SlibStatus) f->onSlibStatus(*SlibStatus);
  return r;
}

KVBL_API BYTE KVBL_GetSlibStatus_Ex(HANDLE hCOM, LPDWORD SlibStatus, LPDWORD SectorStatus1,
                                    LPDWORD SectorStatus2, LPDWORD PasswordStatus) {
  LPDWORD outs[4] = {SlibStatus, SectorStatus1, SectorStatus2, PasswordStatus};
  return slibStatus(hCOM, outs, 4);
}

}  // extern "C"
