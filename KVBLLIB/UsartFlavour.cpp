#include "UsartFlavour.h"

#include <cstring>

#include "KVBLPorts.h"

namespace kvusart {
namespace {

BYTE lineWrite(HANDLE h, const BYTE* data, WORD n) {
  BYTE buf[512];
  if (n > sizeof(buf)) return INPUT_PARAMS_ERROR;
  std::memcpy(buf, data, n);
  return kvbl::LineSend(h, buf, n) == static_cast<int>(n) ? SUCCESS : SEND_FAIL;
}

BYTE lineRead(HANDLE h, BYTE* data, WORD n) {
  return kvbl::LineReceive(h, data, n) == static_cast<int>(n) ? SUCCESS : READ_FAIL;
}

}  // namespace

BYTE InitBL(HANDLE hCOM, WORD, DWORD, BYTE) {
  BYTE start = kStartByte;
  if (kvbl::LineSend(hCOM, &start, 1) != 1) return SEND_FAIL;
  BYTE answer = 0;
  if (kvbl::LineReceive(hCOM, &answer, 1) != 1) return READ_FAIL;
  // A bootloader that is already started answers NACK: it is there all the same.
  if (answer == ACK || answer == NACK) return SUCCESS;
  return UNREOGNIZED_DEVICE;
}

BYTE ReadGetBlock(HANDLE hCOM, BYTE* data, WORD cap, WORD* got) {
  *got = 0;
  if (cap < 2) return READ_FAIL;
  BYTE n = 0;
  BYTE r = lineRead(hCOM, &n, 1);
  if (r != SUCCESS) return r;
  const unsigned rest = n + 1u;
  if (1u + rest > cap) {
    // Take the block off the line so that it cannot pass for the next
    // answer, then refuse it.
    BYTE scratch[256];
    lineRead(hCOM, scratch, static_cast<WORD>(rest));
    return READ_FAIL;
  }
  data[0] = n;
  if ((r = lineRead(hCOM, data + 1, static_cast<WORD>(rest))) != SUCCESS) return r;
  *got = static_cast<WORD>(1 + rest);
  return SUCCESS;
}

// Whatever is still on its way is dropped; the completion ends any frame the
// chip may be reading (it refuses it); then the start byte, which a started
// bootloader answers at once (and a restarted one too), shows that the chip
// listens again. As the second byte of a command pair left half-read by the
// completion, it makes that pair a refused one as well.
BYTE Resync(HANDLE hCOM, const BYTE* completion, WORD n) {
  kvbl::ProbeTimeOut probe(hCOM);
  kvbl::Drain(hCOM);
  BYTE r = lineWrite(hCOM, completion, n);
  if (r != SUCCESS) return r;
  kvbl::Drain(hCOM);
  for (int i = 0; i < 2; ++i) {
    if ((r = InitBL(hCOM, 0, 0, 0)) == SUCCESS) {
      kvbl::Drain(hCOM);  // a late answer to the completion
      return SUCCESS;
    }
    if (r == SEND_FAIL) break;
  }
  return r;
}

const kvbl::Flavour kFlavour = [] {
  kvbl::Flavour f =
      kvbl::LineFlavour("USART", KVBL_INTERFACE_USART, InitBL, lineWrite, lineRead, ReadGetBlock);
  f.exactRate = true;
  f.resync = Resync;
  return f;
}();

}  // namespace kvusart
