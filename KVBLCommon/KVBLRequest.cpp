#include "KVBLRequest.h"

#include <cstring>

#include "KVBLPorts.h"
#include "KVBLRecovery.h"

namespace kvbl {

BYTE XorOf(const BYTE* p, size_t n) {
  BYTE x = 0;
  for (size_t i = 0; i < n; ++i) x ^= p[i];
  return x;
}

void AddressFrame(DWORD address, BYTE out[5]) {
  out[0] = static_cast<BYTE>(address >> 24);
  out[1] = static_cast<BYTE>(address >> 16);
  out[2] = static_cast<BYTE>(address >> 8);
  out[3] = static_cast<BYTE>(address);
  out[4] = XorOf(out, 4);
}

BYTE Write(const Flavour* f, HANDLE h, const BYTE* data, WORD n) {
  if (n == 0 || data == nullptr) return CHUNK_FAIL;
  const BYTE r = f->write(h, data, n);
  NoteFrame(h, data, n, r);
  return r;
}

BYTE Read(const Flavour* f, HANDLE h, BYTE* data, WORD n) {
  if (n == 0 || data == nullptr) return SEND_FAIL;
  return f->read(h, data, n);
}

BYTE Ack(const Flavour* f, HANDLE h, BYTE cmd, AckPoint point) {
  if (f->ack) return f->ack(h, cmd, point);
  BYTE b = 0;
  const BYTE r = f->read(h, &b, 1);
  NoteAnswer(h, r == SUCCESS ? b : -1);
  if (r != SUCCESS) return r;
  if (b != ACK) return point == ACK_FIRST ? CMD_NOT_ALLOWED : CMD_FAIL;
  return SUCCESS;
}

bool SetCommandFlag(TARGET_DESCRIPTOR* t, BYTE code) {
  switch (code) {
    case GET_CMD: t->GET_CMD = 1; return true;
    case GET_VER_ROPS_CMD: t->GET_VER_ROPS_CMD = 1; return true;
    case GET_ID_CMD: t->GET_ID_CMD = 1; return true;
    case SET_SPEED_CMD: t->SET_SPEED_CMD = 1; return true;
    case READ_CMD: t->READ_CMD = 1; return true;
    case GO_CMD: t->GO_CMD = 1; return true;
    case WRITE_CMD: t->WRITE_CMD = 1; return true;
    case ERASE_CMD: t->ERASE_CMD = 1; return true;
    case ERASE_EXT_CMD: t->ERASE_EXT_CMD = 1; return true;
    case ERASEPROGRAM_PROTECT_CMD: t->ERASEPROGRAM_PROTECT_CMD = 1; return true;
    case ERASEPROGRAM_TEMP_UNPROTECT_CMD: t->ERASEPROGRAM_TEMP_UNPROTECT_CMD = 1; return true;
    case ERASEPROGRAM_PERM_UNPROTECT_CMD: t->ERASEPROGRAM_PERM_UNPROTECT_CMD = 1; return true;
    case ACCESS_PROTECT_CMD: t->ACCESS_PERM_PROTECT_CMD = 1; return true;
    case ACCESS_TEMP_UNPROTECT_CMD: t->ACCESS_TEMP_UNPROTECT_CMD = 1; return true;
    case ACCESS_PERM_UNPROTECT_CMD: t->ACCESS_PERM_UNPROTECT_CMD = 1; return true;
    case FIRMWARE_CRC_CMD: t->FIRMWARE_CRC_CMD = 1; return true;
    case ENABLE_BANK3_CMD: t->ENABLE_BANK3_CMD = 1; return true;
    case KV32_ISP_CMD: t->KV32_ISP_CMD = 1; return true;
    case ENABLE_SLIB_CMD: t->ENABLE_SLIB_CMD = 1; return true;
    case DISABLE_SLIB_CMD: t->DISABLE_SLIB_CMD = 1; return true;
    case GET_SLIB_STATUS_CMD: t->GET_SLIB_STATUS_CMD = 1; return true;
    case REMAP_ENABLE_CMD: t->REMAP_ENABLE_CMD = 1; return true;
    case RESET_MCU_CMD: t->RESET_MCU_CMD = 1; return true;
    case ACCESS_LEVEL_PROTECT_CMD: t->ACCESS_LEVEL_PROTECT_CMD = 1; return true;
    default: return false;
  }
}

BYTE ParseGetBlock(TARGET_DESCRIPTOR* t, const BYTE* block, WORD got, bool countIsBlock0,
                   bool (*knowsCode)(BYTE)) {
  if (got < 2) return READ_FAIL;
  const unsigned count = block[0] + (countIsBlock0 ? 0u : 1u);
  t->CmdCount = static_cast<BYTE>(count);
  t->Version = block[1];
  // A position past the bytes that arrived counts as an absent command.
  for (unsigned i = 0; i < count && 2u + i < got; ++i) {
    const BYTE code = block[2 + i];
    if (knowsCode && !knowsCode(code)) continue;
    SetCommandFlag(t, code);
  }
  return SUCCESS;
}

BYTE StoreGetId(TARGET_DESCRIPTOR* t, const BYTE answer[6]) {
  const unsigned len = answer[0] + 1u;
  if (len > kPidMax) return CMD_FAIL;
  t->PIDLen = static_cast<BYTE>(len);
  t->PID = new BYTE[kPidMax];
  std::memcpy(t->PID, answer + 1, len);
  return SUCCESS;
}

WorkingDescriptor::WorkingDescriptor(int port) : m_port(port) {
  if (TARGET_DESCRIPTOR* d = Descriptor(port)) {
    t = *d;
    m_valid = true;
  }
  m_portPid = t.PID;
}

WorkingDescriptor::~WorkingDescriptor() {
  if (!m_stored && t.PID != m_portPid) delete[] t.PID;
}

void WorkingDescriptor::clear() {
  if (t.PID != m_portPid) delete[] t.PID;
  std::memset(&t, 0, sizeof(t));
}

void WorkingDescriptor::store() {
  StoreDescriptor(m_port, &t);
  m_stored = true;
}

void StoreDescriptor(int port, TARGET_DESCRIPTOR* work) {
  TARGET_DESCRIPTOR* d = Descriptor(port);
  if (d == nullptr) return;
  if (d->PID != work->PID) delete[] d->PID;
  *d = *work;
}

namespace {

BYTE finalByte(const Flavour* f, HANDLE h, BYTE cmd, BYTE refused) {
  if (f->finalByteIsAck) return Ack(f, h, cmd, ACK_LATER);
  BYTE b = 0;
  const BYTE r = f->read(h, &b, 1);
  if (r != SUCCESS) return r;
  if (refused == SUCCESS) return SUCCESS;  // read, not compared
  return b == ACK ? SUCCESS : refused;
}

void referencePause(BYTE cmd, PausePoint point) {
  if (point == PAUSE_BEFORE_FIRST_ACK &&
      (cmd == ACCESS_PROTECT_CMD || cmd == ACCESS_TEMP_UNPROTECT_CMD ||
       cmd == ACCESS_PERM_UNPROTECT_CMD))
    Sleep(2000);
}

void pause(const Flavour* f, BYTE cmd, PausePoint point, const KVBL_Request* rq) {
  if (f->pause) f->pause(cmd, point, rq);
  else referencePause(cmd, point);
}

// Sends [address frame], then the first acknowledge of the phase.
BYTE sendAddress(const Flavour* f, HANDLE h, DWORD address) {
  BYTE frame[5];
  AddressFrame(address, frame);
  return Write(f, h, frame, 5);
}

BYTE getCommand(const Flavour* f, HANDLE h, int port) {
  WorkingDescriptor w(port);
  if (!w.valid()) return NO_CON_AVAILABLE;
  w.clear();
  BYTE block[kGetBlockMax];
  WORD got = 0;
  BYTE r = f->readBlock(h, block, kGetBlockMax, &got);
  if (r != SUCCESS) return r;
  if (got > kGetBlockMax) return READ_FAIL;
  if ((r = Ack(f, h, GET_CMD, ACK_LATER)) != SUCCESS) return r;
  if ((r = ParseGetBlock(&w.t, block, got, f->getCountIsBlock0, f->knowsCode)) != SUCCESS)
    return r;
  w.store();
  return SUCCESS;
}

// An identification answer of n bytes (at most 6) and its final
// acknowledge; store puts it into the working descriptor, which is kept on
// success.
template <class Store>
BYTE readIdentity(const Flavour* f, HANDLE h, int port, BYTE cmd, WORD n, Store store) {
  WorkingDescriptor w(port);
  if (!w.valid()) return NO_CON_AVAILABLE;
  BYTE b[6];
  BYTE r = Read(f, h, b, n);
  if (r != SUCCESS) return r;
  if ((r = Ack(f, h, cmd, ACK_LATER)) != SUCCESS) return r;
  if ((r = store(&w.t, b)) != SUCCESS) return r;
  w.store();
  return SUCCESS;
}

BYTE getVerRops(const Flavour* f, HANDLE h, int port) {
  return readIdentity(f, h, port, GET_VER_ROPS_CMD, 3, [](TARGET_DESCRIPTOR* t, const BYTE* b) -> BYTE {
    t->Version = b[0];
    t->ROPE = b[1];
    t->ROPD = b[2];
    return SUCCESS;
  });
}

BYTE getId(const Flavour* f, HANDLE h, int port) {
  return readIdentity(f, h, port, GET_ID_CMD, 6, StoreGetId);
}

BYTE readCommand(const Flavour* f, HANDLE h, LPKVBL_Request rq) {
  const unsigned n = rq->_length;
  BYTE r = sendAddress(f, h, rq->_address);
  if (r != SUCCESS) return r;
  if ((r = Ack(f, h, READ_CMD, ACK_LATER)) != SUCCESS) return r;
  const BYTE count[2] = {static_cast<BYTE>(n - 1), static_cast<BYTE>(~(n - 1))};
  if ((r = Write(f, h, count, 2)) != SUCCESS) return r;
  if ((r = Ack(f, h, READ_CMD, ACK_LATER)) != SUCCESS) return r;
  return Read(f, h, rq->_data, static_cast<WORD>(n));
}

BYTE writeCommand(const Flavour* f, HANDLE h, LPKVBL_Request rq) {
  const unsigned n = rq->_length;
  BYTE r = sendAddress(f, h, rq->_address);
  if (r != SUCCESS) return r;
  if ((r = Ack(f, h, WRITE_CMD, ACK_LATER)) != SUCCESS) return r;
  BYTE frame[kMaxTransfer + 2];
  frame[0] = static_cast<BYTE>(n - 1);
  std::memcpy(frame + 1, rq->_data, n);
  frame[n + 1] = XorOf(frame, n + 1);
  // A data frame the line refused is reported, not acknowledged away.
  if ((r = Write(f, h, frame, static_cast<WORD>(n + 2))) != SUCCESS) return r;
  return Ack(f, h, WRITE_CMD, ACK_LATER);
}

BYTE eraseCommand(const Flavour* f, HANDLE h, LPKVBL_Request rq) {
  BYTE frame[kMaxFrame];
  WORD len = 0;
  if (rq->_nbSectors == 0xFF) {
    frame[0] = 0xFF;
    frame[1] = 0x00;
    len = 2;
  } else {
    const unsigned n = rq->_nbSectors;
    frame[0] = static_cast<BYTE>(n - 1);
    std::memcpy(frame + 1, rq->_data, n);
    frame[n + 1] = XorOf(frame, n + 1);
    len = static_cast<WORD>(n + 2);
  }
  BYTE r = Write(f, h, frame, len);
  if (r != SUCCESS) return r;
  return Ack(f, h, ERASE_CMD, ACK_LATER);
}

BYTE eraseExtCommand(const Flavour* f, HANDLE h, LPKVBL_Request rq) {
  BYTE frame[kMaxFrame];
  WORD len = 0;
  const WORD code = rq->_wbSectors;
  if (code == KVBL_ERASE_CODE_BLOCK) {
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    AddressFrame(rq->_address, frame + 2);
    frame[6] = XorOf(frame, 6);
    len = 7;
  } else if (code > 0xFEFF) {
    frame[0] = static_cast<BYTE>(code >> 8);
    frame[1] = static_cast<BYTE>(code);
    frame[2] = XorOf(frame, 2);
    len = 3;
  } else {
    const unsigned n = code;
    frame[0] = static_cast<BYTE>((n - 1) >> 8);
    frame[1] = static_cast<BYTE>(n - 1);
    for (unsigned i = 0; i < n; ++i) {  // little-endian in, big-endian out
      frame[2 + 2 * i] = rq->_data[2 * i + 1];
      frame[3 + 2 * i] = rq->_data[2 * i];
    }
    frame[2 * n + 2] = XorOf(frame, 2 * n + 2);
    len = static_cast<WORD>(2 * n + 3);
  }
  BYTE r = Write(f, h, frame, len);
  if (r != SUCCESS) return r;
  return Ack(f, h, ERASE_EXT_CMD, ACK_LATER);
}

BYTE protectCommand(const Flavour* f, HANDLE h, LPKVBL_Request rq) {
  const unsigned n = rq->_nbSectors;
  BYTE frame[kMaxFrame];
  frame[0] = static_cast<BYTE>(n - 1);
  std::memcpy(frame + 1, rq->_data, n);
  frame[n + 1] = XorOf(frame, n + 1);
  BYTE r = Write(f, h, frame, static_cast<WORD>(n + 2));
  if (r != SUCCESS) return r;
  return Ack(f, h, ERASEPROGRAM_PROTECT_CMD, ACK_LATER);
}

BYTE crcCommand(const Flavour* f, HANDLE h, LPKVBL_Request rq) {
  BYTE r = sendAddress(f, h, rq->_address);
  if (r != SUCCESS) return r;
  if ((r = Ack(f, h, FIRMWARE_CRC_CMD, ACK_LATER)) != SUCCESS) return r;
  const WORD m = static_cast<WORD>(rq->_length - 1);
  const BYTE hi = static_cast<BYTE>(m >> 8), lo = static_cast<BYTE>(m);
  const BYTE count[3] = {hi, lo, static_cast<BYTE>(~(hi ^ lo))};
  if ((r = Write(f, h, count, 3)) != SUCCESS) return r;
  if ((r = Ack(f, h, FIRMWARE_CRC_CMD, ACK_LATER)) != SUCCESS) return r;
  pause(f, FIRMWARE_CRC_CMD, PAUSE_BEFORE_RESULT, rq);
  return Read(f, h, rq->_data, 4);
}

void put32(BYTE* p, DWORD v) {
  p[0] = static_cast<BYTE>(v >> 24);
  p[1] = static_cast<BYTE>(v >> 16);
  p[2] = static_cast<BYTE>(v >> 8);
  p[3] = static_cast<BYTE>(v);
}

void put16(BYTE* p, WORD v) {
  p[0] = static_cast<BYTE>(v >> 8);
  p[1] = static_cast<BYTE>(v);
}

BYTE slibCommand(const Flavour* f, HANDLE h, LPKVBL_Request rq) {
  const bool enable = rq->_cmd == ENABLE_SLIB_CMD;
  BYTE frame[11];
  put32(frame, rq->_SlibPassword);
  WORD len = 4;
  if (enable) {
    put16(frame + 4, rq->_SlibStartSector);
    put16(frame + 6, rq->_SlibStartDataSector);
    put16(frame + 8, rq->_SlibEndSector);
    len = 10;
  }
  frame[len] = XorOf(frame, len);
  BYTE r = Write(f, h, frame, static_cast<WORD>(len + 1));
  if (r != SUCCESS) return r;
  pause(f, rq->_cmd, PAUSE_BEFORE_RESULT, rq);
  BYTE status = 0;
  if ((r = Read(f, h, &status, 1)) != SUCCESS) return r;
  if ((r = Ack(f, h, rq->_cmd, ACK_LATER)) != SUCCESS) return r;
  if (status == 0) return SUCCESS;
  return static_cast<BYTE>((enable ? SLIBENABLE_ERROR_OFFSET : SLIBDISABLE_ERROR_OFFSET) + status);
}

BYTE twoByteCommand(const Flavour* f, HANDLE h, BYTE cmd, BYTE a, BYTE b) {
  const BYTE frame[2] = {a, b};
  BYTE r = Write(f, h, frame, 2);
  if (r != SUCCESS) return r;
  return Ack(f, h, cmd, ACK_LATER);
}

}  // namespace

BYTE ValidateRequest(const KVBL_Request* rq) {
  auto needs = [&](unsigned n, unsigned max) -> BYTE {
    if (n == 0 || n > max) return INPUT_PARAMS_ERROR;
    return rq->_data ? SUCCESS : INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  };
  switch (rq->_cmd) {
    case READ_CMD:
    case WRITE_CMD:
    case GET_SLIB_STATUS_CMD:
      return needs(rq->_length, kMaxTransfer);
    case ERASE_CMD:
      return rq->_nbSectors == 0xFF ? SUCCESS : needs(rq->_nbSectors, 0xFE);
    case ERASE_EXT_CMD:
      return rq->_wbSectors > 0xFEFF ? SUCCESS : needs(rq->_wbSectors, (kMaxFrame - 3) / 2);
    case ERASEPROGRAM_PROTECT_CMD:
      return needs(rq->_nbSectors, 0xFF);
    case FIRMWARE_CRC_CMD:
      return needs(rq->_length, 0xFFFF);
    default:
      return SUCCESS;
  }
}

BYTE ReferenceSendRQ(const Flavour* f, HANDLE h, LPKVBL_Request rq) {
  const int port = PortOf(h);
  if (!IsOpen(port)) return NO_CON_AVAILABLE;
  const BYTE cmd = rq->_cmd;
  BYTE r = ValidateRequest(rq);
  if (r != SUCCESS) return r;
  if (f->sendCommand) {
    r = f->sendCommand(h, cmd);
    const BYTE pair[2] = {cmd, static_cast<BYTE>(~cmd)};
    NoteFrame(h, pair, 2, r);
  } else {
    const BYTE frame[2] = {cmd, static_cast<BYTE>(~cmd)};
    r = Write(f, h, frame, 2);
  }
  if (r != SUCCESS) return r;
  pause(f, cmd, PAUSE_BEFORE_FIRST_ACK, rq);
  if ((r = Ack(f, h, cmd, ACK_FIRST)) != SUCCESS) return r;

  switch (cmd) {
    case GET_CMD: return getCommand(f, h, port);
    case GET_VER_ROPS_CMD: return getVerRops(f, h, port);
    case GET_ID_CMD: return getId(f, h, port);
    case READ_CMD: return readCommand(f, h, rq);
    case GO_CMD:
      if ((r = sendAddress(f, h, rq->_address)) != SUCCESS) return r;
      return finalByte(f, h, cmd, SUCCESS);
    case WRITE_CMD: return writeCommand(f, h, rq);
    case ERASE_CMD: return eraseCommand(f, h, rq);
    case ERASE_EXT_CMD: return eraseExtCommand(f, h, rq);
    case ERASEPROGRAM_PROTECT_CMD: return protectCommand(f, h, rq);
    case ERASEPROGRAM_TEMP_UNPROTECT_CMD:
    case ERASEPROGRAM_PERM_UNPROTECT_CMD:
    case ACCESS_PROTECT_CMD:
    case ACCESS_TEMP_UNPROTECT_CMD:
    case ACCESS_PERM_UNPROTECT_CMD:
      return Ack(f, h, cmd, ACK_LATER);
    case FIRMWARE_CRC_CMD: return crcCommand(f, h, rq);
    case ENABLE_BANK3_CMD: {
      BYTE frame[10];
      frame[0] = rq->_flashtype;
      put32(frame + 1, rq->_flashsize);
      put32(frame + 5, rq->_flashDA);
      frame[9] = XorOf(frame, 9);
      if ((r = Write(f, h, frame, 10)) != SUCCESS) return r;
      return Ack(f, h, cmd, ACK_LATER);
    }
    case ENABLE_SLIB_CMD:
    case DISABLE_SLIB_CMD:
      return slibCommand(f, h, rq);
    case GET_SLIB_STATUS_CMD:
      if ((r = Read(f, h, rq->_data, rq->_length)) != SUCCESS) return r;
      return Ack(f, h, cmd, ACK_LATER);
    case REMAP_ENABLE_CMD: return twoByteCommand(f, h, cmd, rq->_RemapFlag, rq->_RemapFlag);
    case RESET_MCU_CMD: return finalByte(f, h, cmd, READ_FAIL);
    case ACCESS_LEVEL_PROTECT_CMD:
      return twoByteCommand(f, h, cmd, rq->_RemapFlag, static_cast<BYTE>(~rq->_RemapFlag));
    case KV32_ISP_CMD: {
      static const BYTE kIsp[5] = {0x02, 0x03, 0x56, 0x4B, 0x1C};
      if ((r = Write(f, h, kIsp, 5)) != SUCCESS) return r;
      return finalByte(f, h, cmd, READ_FAIL);
    }
    default:
      return SUCCESS;
  }
}

}  // namespace kvbl

extern "C" KVBL_API BYTE Send_RQ(HANDLE hCOM, LPKVBL_Request pRQ) {
  const int port = kvbl::PortOf(hCOM);
  if (!kvbl::IsOpen(port)) return NO_CON_AVAILABLE;
  if (pRQ == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  const kvbl::Flavour* f = kvbl::FlavourOf(port);
  if (f == nullptr) return NO_CON_AVAILABLE;
  return kvbl::SendWithRecovery(f, hCOM, pRQ);
}
