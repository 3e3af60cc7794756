// Data frames of the SPI bridge: single and multi-frame writes and reads,
// the variable read of the GET block and the write-then-read exchange.
#include <cstring>

#include "KVBLPorts.h"
#include "SPIBridge.h"

namespace kvspi {
namespace {

constexpr BYTE kData = 0xBF;
constexpr BYTE kDone = 0xF1;

enum Sub : BYTE {
  MASS_WRITE_START = 0x0C,
  MASS_WRITE_CHUNK = 0x0D,
  MASS_WRITE_END = 0x0E,
  SINGLE_WRITE = 0x0F,
  MASS_READ_START = 0x10,
  MASS_READ_CHUNK = 0x11,
  SINGLE_READ = 0x12,
  VARIABLE_READ = 0x13,
  WRITE_READ = 0x14,
};

bool sent(HANDLE h, BYTE* frame, size_t n) { return kvbl::LineSend(h, frame, n) == static_cast<int>(n); }

// The answer of a frame that did not do what was asked: a status that reads
// "done" in an answer of the wrong kind is still a failure.
BYTE failure(BYTE status) {
  const BYTE r = SPI_Analyse_Result(status);
  return r == SUCCESS ? SPI_CMD_EXEC_ERROR : r;
}

// A frame answered by [0xBF][status], with the results of a short write and
// of a short answer.
BYTE statusFrame(HANDLE h, BYTE* frame, size_t n, BYTE shortWrite, BYTE shortAnswer) {
  if (!sent(h, frame, n)) return shortWrite;
  BYTE ans[2];
  if (kvbl::LineReceive(h, ans, 2) != 2) return shortAnswer;
  if (ans[0] != kData) return failure(ans[1]);
  return SPI_Analyse_Result(ans[1]);
}

// A read frame answered by [0xBF][sub][2 bytes][n data bytes].
BYTE dataAnswer(HANDLE h, BYTE sub, BYTE* out, unsigned n) {
  BYTE ans[4 + 255];
  if (kvbl::LineReceive(h, ans, 4u + n) != static_cast<int>(4u + n)) return READ_FAIL;
  if (ans[0] != kData || ans[1] != sub) return failure(ans[1]);
  if (n > 0) std::memcpy(out, ans + 4, n);
  return SUCCESS;
}

unsigned chunkOf(unsigned left) { return left < kFrameLength ? left : kFrameLength; }

}  // namespace

BYTE SPI_Analyse_Result(BYTE cValue) {
  switch (cValue) {
    case 0xF1: return SUCCESS;
    case 0xFD: return SPI_DEVICE_BUSY;
    case 0xFE: return SPI_INVALID_DATA_PARAM;
    case 0xFF: return SPI_UNRECOGNIZED_CMD;
    default: return SPI_CMD_EXEC_ERROR;
  }
}

BYTE SPI_Single_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  if (Size == 0 || pData == nullptr) return CHUNK_FAIL;
  BYTE frame[4 + 255] = {kData, SINGLE_WRITE, 0x00, Size};
  std::memcpy(frame + 4, pData, Size);
  return statusFrame(hCOM, frame, 4u + Size, SEND_FAIL, READ_FAIL);
}

BYTE SPI_Mass_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  if (Size == 0 || pData == nullptr) return CHUNK_FAIL;
  BYTE start[4] = {kData, MASS_WRITE_START, 0x00, Size};
  BYTE r = statusFrame(hCOM, start, 4, SEND_FAIL, READ_FAIL);
  if (r != SUCCESS) return r;
  for (unsigned off = 0; off < Size;) {
    const unsigned n = chunkOf(Size - off);
    BYTE frame[4 + kFrameLength] = {kData, MASS_WRITE_CHUNK, static_cast<BYTE>(n >> 8),
                                    static_cast<BYTE>(n)};
    std::memcpy(frame + 4, pData + off, n);
    if ((r = statusFrame(hCOM, frame, 4 + n, CHUNK_FAIL, CHUNK_FAIL)) != SUCCESS) return r;
    off += n;
  }
  BYTE end[2] = {kData, MASS_WRITE_END};
  return statusFrame(hCOM, end, 2, SEND_FAIL, READ_FAIL);
}

BYTE SPI_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  if (Size == 0 || pData == nullptr) return SEND_FAIL;
  BYTE req[4] = {kData, SINGLE_READ, 0x00, Size};
  if (!sent(hCOM, req, 4)) return SEND_FAIL;
  return dataAnswer(hCOM, SINGLE_READ, pData, Size);
}

BYTE SPI_Mass_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  if (Size == 0 || pData == nullptr) return SEND_FAIL;
  BYTE start[4] = {kData, MASS_READ_START, 0x00, Size};
  BYTE r = statusFrame(hCOM, start, 4, SEND_FAIL, READ_FAIL);
  if (r != SUCCESS) return r;
  for (unsigned off = 0; off < Size;) {
    const unsigned n = chunkOf(Size - off);
    BYTE req[4] = {kData, MASS_READ_CHUNK, static_cast<BYTE>(n >> 8), static_cast<BYTE>(n)};
    if (!sent(hCOM, req, 4)) return SEND_FAIL;
    if ((r = dataAnswer(hCOM, MASS_READ_CHUNK, pData + off, n)) != SUCCESS) return r;
    off += n;
  }
  return SUCCESS;
}

BYTE VariableRead(HANDLE hCOM, BYTE Size, LPBYTE pData, WORD* got) {
  *got = 0;
  if (Size == 0 || pData == nullptr) return SEND_FAIL;
  BYTE req[2] = {kData, VARIABLE_READ};
  if (!sent(hCOM, req, 2)) return SEND_FAIL;
  BYTE head[3];
  const int n = kvbl::LineReceive(hCOM, head, 3);
  if (n < 2) return READ_FAIL;
  if (head[0] != kData || head[1] != VARIABLE_READ) return failure(head[1]);
  if (n < 3) return READ_FAIL;  // the length never arrived
  const BYTE len = head[2];
  BYTE block[255];
  const int m = len ? kvbl::LineReceive(hCOM, block, len) : 0;
  if (m < 0) return READ_FAIL;
  // Too long for the caller: refused after its bytes left the line, so that
  // they cannot pass for the next answer.
  if (len > Size) return READ_FAIL;
  std::memcpy(pData, block, static_cast<size_t>(m));
  *got = static_cast<WORD>(m);
  return SUCCESS;
}

BYTE SPI_Variable_Single_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  WORD got = 0;
  return VariableRead(hCOM, Size, pData, &got);
}

int SPI_Write_Data(HANDLE hCOM, BYTE Size, LPBYTE pData) {
  return Size <= kFrameLength ? SPI_Single_Write_Data(hCOM, Size, pData)
                              : SPI_Mass_Write_Data(hCOM, Size, pData);
}

int SPI_Read_Data(HANDLE hCOM, BYTE Size, LPBYTE pData, BOOL bVariable) {
  if (bVariable) return SPI_Variable_Single_Read_Data(hCOM, Size, pData);
  return Size <= kFrameLength ? SPI_Single_Read_Data(hCOM, Size, pData)
                              : SPI_Mass_Read_Data(hCOM, Size, pData);
}

BYTE SPI_Write_and_read_Data(HANDLE hCOM, BYTE SendSize, LPBYTE pSendData, BYTE RecvSize,
                             LPBYTE Recv_Buffer) {
  if (SendSize == 0 || pSendData == nullptr) return SEND_FAIL;
  if (RecvSize > 0 && Recv_Buffer == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  BYTE frame[4 + 255] = {kData, WRITE_READ, 0x00, SendSize};
  std::memcpy(frame + 4, pSendData, SendSize);
  if (!sent(hCOM, frame, 4u + SendSize)) return SEND_FAIL;
  return dataAnswer(hCOM, WRITE_READ, Recv_Buffer, RecvSize);
}

}  // namespace kvspi
