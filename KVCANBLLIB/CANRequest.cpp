// Send_RQ on CAN: the command travels in each frame, so a command opens
// either with a bare frame (the commands without parameters) or directly
// with its first parameter frame. Parameters are most significant byte
// first and carry no XOR byte.
#include <cstring>

#include "CANBridge.h"
#include "KVBLPorts.h"
#include "KVBLRecovery.h"
#include "KVBLRequest.h"

namespace kvcan {
namespace {

// The steps of one command on one port.
class Exchange {
 public:
  Exchange(HANDLE h, BYTE cmd) : m_h(h), m_cmd(cmd) { SetCommandCode(h, cmd); }

  BYTE bare() {
    const BYTE r = CAN_Single_Write_Data(m_h, m_cmd, 0, nullptr);
    kvbl::NoteFrame(m_h, nullptr, 0, r);
    return r;
  }
  BYTE write(const BYTE* data, WORD n) { return kvbl::Write(&kFlavour, m_h, data, n); }
  BYTE read(BYTE* data, WORD n) { return kvbl::Read(&kFlavour, m_h, data, n); }
  BYTE ack(kvbl::AckPoint point = kvbl::ACK_LATER) { return kvbl::Ack(&kFlavour, m_h, m_cmd, point); }
  // Reads n single bytes, one frame each.
  BYTE readBytes(BYTE* out, unsigned n) {
    for (unsigned i = 0; i < n; ++i) {
      const BYTE r = read(out + i, 1);
      if (r != SUCCESS) return r;
    }
    return SUCCESS;
  }
  // A byte that is read and not compared.
  BYTE readAny() {
    BYTE b = 0;
    return read(&b, 1);
  }
  // A frame, then its acknowledge.
  BYTE writeAck(const BYTE* data, WORD n) {
    const BYTE r = write(data, n);
    return r != SUCCESS ? r : ack();
  }

  HANDLE m_h;
  BYTE m_cmd;
};

bool opensBare(BYTE cmd) {
  switch (cmd) {
    case GET_CMD:
    case GET_VER_ROPS_CMD:
    case GET_ID_CMD:
    case ERASEPROGRAM_PERM_UNPROTECT_CMD:
    case ACCESS_PROTECT_CMD:
    case ACCESS_PERM_UNPROTECT_CMD:
    case GET_SLIB_STATUS_CMD:
    case RESET_MCU_CMD:
      return true;
    default:
      return false;
  }
}

// [A3][A2][A1][A0] into frame[0..3]; frame[4] is overwritten (the XOR byte
// of the reference frame, which CAN does not send). Returns 4.
WORD addressFrame(DWORD address, BYTE frame[5]) {
  kvbl::AddressFrame(address, frame);
  return 4;
}

BYTE getCommand(Exchange& x, int port) {
  BYTE block[kvbl::kGetBlockMax];
  WORD got = 0;
  BYTE r = VariableRead(x.m_h, GET_CMD, static_cast<BYTE>(sizeof(block)), block, &got);
  if (r != SUCCESS) return r;
  if (got < 2) return READ_FAIL;
  // [count][version][count codes][ACK]: the acknowledge ends the block.
  const unsigned ackAt = 2u + block[0];
  if (ackAt >= got || block[ackAt] != ACK) return CMD_FAIL;
  TARGET_DESCRIPTOR t{};
  if ((r = kvbl::ParseGetBlock(&t, block, got, true, KnowsCode)) != SUCCESS) return r;
  kvbl::StoreDescriptor(port, &t);
  return SUCCESS;
}

BYTE getVerRops(Exchange& x, int port) {
  BYTE b[3];
  BYTE r = x.readBytes(b, 3);
  if (r != SUCCESS || (r = x.ack()) != SUCCESS) return r;
  TARGET_DESCRIPTOR t = *kvbl::Descriptor(port);
  t.Version = b[0];
  t.ROPE = b[1];
  t.ROPD = b[2];
  kvbl::StoreDescriptor(port, &t);
  return SUCCESS;
}

BYTE getId(Exchange& x, int port) {
  BYTE b[6];
  BYTE r = x.readBytes(b, 6);
  if (r != SUCCESS || (r = x.ack()) != SUCCESS) return r;
  TARGET_DESCRIPTOR t = *kvbl::Descriptor(port);
  if ((r = kvbl::StoreGetId(&t, b)) != SUCCESS) return r;
  kvbl::StoreDescriptor(port, &t);
  return SUCCESS;
}

BYTE setSpeed(Exchange& x, LPKVBL_Request rq) {
  if (rq->_data == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  if (rq->_length != 2) return INPUT_PARAMS_ERROR;
  BYTE r = x.write(rq->_data, 2);
  if (r != SUCCESS || (r = x.readAny()) != SUCCESS) return r;
  // The bridge moves to the new speed; the chip answers once more there.
  if ((r = InitBL(x.m_h, 0, rq->_data[0], 0)) != SUCCESS) return r;
  return x.readAny();
}

// The parameter frame of READ and WRITE, [A3][A2][A1][A0][N-1], after the
// length and buffer checks; *n = N.
BYTE transferFrame(Exchange& x, LPKVBL_Request rq, unsigned* n) {
  *n = rq->_length;
  if (*n == 0 || *n > kvbl::kMaxTransfer) return INPUT_PARAMS_ERROR;
  if (rq->_data == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  BYTE frame[5];
  addressFrame(rq->_address, frame);
  frame[4] = static_cast<BYTE>(*n - 1);
  return x.write(frame, 5);
}

BYTE readCommand(Exchange& x, LPKVBL_Request rq) {
  unsigned n = 0;
  BYTE r = transferFrame(x, rq, &n);
  // A refused parameter frame means the read is not allowed there.
  if (r != SUCCESS || (r = x.ack(kvbl::ACK_FIRST)) != SUCCESS) return r;
  return x.read(rq->_data, static_cast<WORD>(n));
}

BYTE writeCommand(Exchange& x, LPKVBL_Request rq) {
  unsigned n = 0;
  BYTE r = transferFrame(x, rq, &n);
  if (r != SUCCESS || (r = x.ack()) != SUCCESS) return r;
  // Data the bridge refused is reported, not acknowledged away.
  return x.writeAck(rq->_data, static_cast<WORD>(n));
}

// The special codes (above 0xFEFF) erase whole areas; the block code 0xFFFB
// needs an address that CAN cannot carry, so it is refused before any
// traffic instead of letting the chip guess the block.
BYTE eraseExtCommand(Exchange& x, LPKVBL_Request rq) {
  const WORD code = rq->_wbSectors;
  if (code == KVBL_ERASE_CODE_BLOCK) return INPUT_PARAMS_ERROR;
  BYTE r;
  if (code > 0xFEFF) {
    const BYTE frame[2] = {static_cast<BYTE>(code >> 8), static_cast<BYTE>(code)};
    if ((r = x.writeAck(frame, 2)) != SUCCESS) return r;
    kvbl::Sleep(kSpecialEraseMs);
    return x.ack();
  }
  const unsigned n = code;
  if (n == 0 || 2 * n > 255) return INPUT_PARAMS_ERROR;
  if (rq->_data == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  const BYTE count[2] = {static_cast<BYTE>((n - 1) >> 8), static_cast<BYTE>(n - 1)};
  if ((r = x.writeAck(count, 2)) != SUCCESS) return r;
  BYTE numbers[255];
  for (unsigned i = 0; i < n; ++i) {  // least significant first in, most significant first out
    numbers[2 * i] = rq->_data[2 * i + 1];
    numbers[2 * i + 1] = rq->_data[2 * i];
  }
  return x.writeAck(numbers, static_cast<WORD>(2 * n));
}

BYTE protectCommand(Exchange& x, LPKVBL_Request rq) {
  const unsigned n = rq->_nbSectors;
  if (n == 0 || rq->_length == 0 || rq->_length > 255) return INPUT_PARAMS_ERROR;
  if (rq->_data == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  const BYTE count = static_cast<BYTE>(n - 1);
  BYTE r = x.writeAck(&count, 1);
  if (r != SUCCESS) return r;
  return x.writeAck(rq->_data, rq->_length);
}

BYTE crcCommand(Exchange& x, LPKVBL_Request rq) {
  if (rq->_data == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  if (rq->_length == 0) return INPUT_PARAMS_ERROR;
  BYTE frame[6];
  addressFrame(rq->_address, frame);
  const WORD m = static_cast<WORD>(rq->_length - 1);
  frame[4] = static_cast<BYTE>(m >> 8);
  frame[5] = static_cast<BYTE>(m);
  BYTE r = x.writeAck(frame, 6);
  if (r != SUCCESS) return r;
  return x.read(rq->_data, 4);
}

BYTE slibCommand(Exchange& x, LPKVBL_Request rq) {
  const bool enable = rq->_cmd == ENABLE_SLIB_CMD;
  BYTE password[5];
  addressFrame(rq->_SlibPassword, password);
  BYTE r = x.writeAck(password, 4);
  if (r != SUCCESS) return r;
  if (enable) {
    const WORD v[3] = {rq->_SlibStartSector, rq->_SlibStartDataSector, rq->_SlibEndSector};
    BYTE sectors[6];
    for (int i = 0; i < 3; ++i) {
      sectors[2 * i] = static_cast<BYTE>(v[i] >> 8);
      sectors[2 * i + 1] = static_cast<BYTE>(v[i]);
    }
    if ((r = x.write(sectors, 6)) != SUCCESS) return r;
  }
  BYTE status = 0;
  if ((r = x.read(&status, 1)) != SUCCESS || (r = x.ack()) != SUCCESS) return r;
  if (status == 0) return SUCCESS;
  return static_cast<BYTE>((enable ? SLIBENABLE_ERROR_OFFSET : SLIBDISABLE_ERROR_OFFSET) + status);
}

}  // namespace

BYTE SendRQ(HANDLE hCOM, LPKVBL_Request rq) {
  const int port = kvbl::PortOf(hCOM);
  if (!kvbl::IsOpen(port) || kvbl::Descriptor(port) == nullptr) return NO_CON_AVAILABLE;
  const BYTE cmd = rq->_cmd;
  Exchange x(hCOM, cmd);
  BYTE r;
  if (opensBare(cmd)) {
    if ((r = x.bare()) != SUCCESS) return r;
    if ((r = x.ack(kvbl::ACK_FIRST)) != SUCCESS) return r;
  }
  switch (cmd) {
    case GET_CMD: return getCommand(x, port);
    case GET_VER_ROPS_CMD: return getVerRops(x, port);
    case GET_ID_CMD: return getId(x, port);
    case SET_SPEED_CMD: return setSpeed(x, rq);
    case READ_CMD: return readCommand(x, rq);
    case GO_CMD: {
      BYTE frame[5];
      if ((r = x.write(frame, addressFrame(rq->_address, frame))) != SUCCESS) return r;
      return x.readAny();
    }
    case WRITE_CMD: return writeCommand(x, rq);
    case ERASE_EXT_CMD: return eraseExtCommand(x, rq);
    case ERASEPROGRAM_PROTECT_CMD: return protectCommand(x, rq);
    case ERASEPROGRAM_PERM_UNPROTECT_CMD:
    case ACCESS_PROTECT_CMD:
    case ACCESS_PERM_UNPROTECT_CMD:
      return x.ack();
    case FIRMWARE_CRC_CMD: return crcCommand(x, rq);
    case ENABLE_SLIB_CMD:
    case DISABLE_SLIB_CMD:
      return slibCommand(x, rq);
    case GET_SLIB_STATUS_CMD: {
      if (rq->_data == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
      if (rq->_length == 0 || rq->_length > 255) return INPUT_PARAMS_ERROR;
      if ((r = x.read(rq->_data, rq->_length)) != SUCCESS) return r;
      return x.ack();
    }
    case REMAP_ENABLE_CMD: {
      const BYTE frame[2] = {rq->_RemapFlag, rq->_RemapFlag};
      return x.writeAck(frame, 2);
    }
    case RESET_MCU_CMD: {
      BYTE b = 0;
      if ((r = x.read(&b, 1)) != SUCCESS) return r;
      return b == ACK ? SUCCESS : READ_FAIL;
    }
    case ACCESS_LEVEL_PROTECT_CMD: {
      const BYTE frame[2] = {rq->_RemapFlag, static_cast<BYTE>(~rq->_RemapFlag)};
      return x.writeAck(frame, 2);
    }
    default:  // not carried on CAN: nothing is sent
      return SUCCESS;
  }
}

}  // namespace kvcan
