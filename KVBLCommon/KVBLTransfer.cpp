// Block transfers (upload, verify, download) and erase, with their Progress
// counting. Every packet goes through KVBL_READ / KVBL_WRITE (or the same
// WRITE request for an even-padded tail), so their checks hold here too.
#include <cstring>
#include <vector>

#include "KVBLCall.h"
#include "KVBLPorts.h"
#include "KVBLRecovery.h"
#include "KVBLRequest.h"

using namespace kvbl;

namespace {

bool allFF(const BYTE* p, DWORD n) {
  for (DWORD i = 0; i < n; ++i)
    if (p[i] != 0xFF) return false;
  return true;
}

constexpr WORD kEraseGroup = 10;

// Sends sector numbers (2 bytes each, least significant first in pSectors)
// in groups of ten, Progress + 1 per group.
BYTE eraseGroups(HANDLE h, BYTE cmd, WORD count, const BYTE* pSectors) {
  for (WORD done = 0; done < count;) {
    const WORD n = static_cast<WORD>(count - done < kEraseGroup ? count - done : kEraseGroup);
    BYTE data[2 * kEraseGroup];
    KVBL_Request rq = Request(cmd);
    rq._length = n;
    if (cmd == ERASE_CMD) {
      for (WORD i = 0; i < n; ++i) data[i] = pSectors[2 * (done + i)];
      rq._nbSectors = static_cast<BYTE>(n);
    } else {
      std::memcpy(data, pSectors + 2 * done, 2u * n);
      rq._wbSectors = n;
    }
    rq._data = data;
    const BYTE r = Send_RQ(h, &rq);
    if (r != SUCCESS) return r;
    ++Progress;
    done = static_cast<WORD>(done + n);
  }
  return SUCCESS;
}

bool isSpecialCode(WORD n) { return n >= KVBL_ERASE_CODE_BLOCK; }  // 0xFFFB..0xFFFF

DWORD packets(DWORD length, DWORD P) { return (length + P - 1) / P; }

// For a flavour that moves whole ranges: the runs of packets a transfer
// sends, [offset, offset + length) each, in address order. With skipFF the
// packets that are all 0xFF are left out, as the packet loops leave them.
template <typename Run>
BYTE eachRun(const BYTE* data, DWORD length, DWORD P, bool skipFF, Run run) {
  for (DWORD off = 0; off < length;) {
    DWORD end = off;
    while (end < length) {
      const DWORD n = length - end < P ? length - end : P;
      if (skipFF && allFF(data + end, n)) break;
      end += n;
    }
    if (end > off) {
      const BYTE r = run(off, end - off);
      if (r != SUCCESS) return r;
      off = end;
    } else {
      off += length - off < P ? length - off : P;  // a blank packet
    }
  }
  return SUCCESS;
}

BYTE verifyRanges(const Call& c, DWORD address, const BYTE* expected, DWORD length, bool skipFF) {
  std::vector<BYTE> back;
  return eachRun(expected, length, PacketSize(c.port), skipFF, [&](DWORD off, DWORD n) -> BYTE {
    back.assign(n, 0xFF);
    const BYTE r = c.f->readRange(c.h, address + off, back.data(), n);
    if (r != SUCCESS) return r;
    return std::memcmp(back.data(), expected + off, n) == 0 ? SUCCESS : CMD_NOT_ALLOWED;
  });
}

// Writes in whole runs; a run of odd length is padded with the byte the
// flash holds after it, as the packet loop pads its tail.
BYTE downloadRanges(const Call& c, DWORD address, const BYTE* data, DWORD length, bool skipFF) {
  std::vector<BYTE> even;
  return eachRun(data, length, PacketSize(c.port), skipFF, [&](DWORD off, DWORD n) -> BYTE {
    if ((n & 1u) == 0) return c.f->writeRange(c.h, address + off, data + off, n);
    even.assign(data + off, data + off + n);
    even.push_back(0xFF);
    const BYTE r = c.f->readRange(c.h, address + off + n, &even[n], 1);
    if (r != SUCCESS) return r;
    return c.f->writeRange(c.h, address + off, even.data(), n + 1);
  });
}

constexpr DWORD kPieces = 4;  // a packet that cannot be read whole is read in quarters

// One packet of a block transfer. On a line that keeps damaging answers, a
// long READ may fail every time it is sent; its quarters, each with its own
// repeats, pass much more often. A chip that refuses, a silent chip or a
// gone line are not asked again.
BYTE readPacket(HANDLE h, DWORD address, DWORD n, BYTE* out) {
  const BYTE r = KVBL_READ(h, address, static_cast<BYTE>(n), out);
  if (r == SUCCESS || n < 2 * kPieces || !WorthSmallerFrames(h)) return r;
  const DWORD piece = ((n + kPieces - 1) / kPieces + 1) & ~1ul;  // even
  for (DWORD off = 0; off < n; off += piece) {
    const DWORD k = n - off < piece ? n - off : piece;
    if (KVBL_READ(h, address + off, static_cast<BYTE>(k), out + off) != SUCCESS) return r;
  }
  return SUCCESS;
}

// The checks every block transfer makes first: the port and the command's
// flag, the caller's buffer, a range within the 32-bit address space.
BYTE beginTransfer(HANDLE h, BOOL TARGET_DESCRIPTOR::*flag, const BYTE* pData, DWORD Address,
                   DWORD Length, Call* c) {
  const BYTE r = Begin(h, flag, c, pData != nullptr);
  if (r != SUCCESS) return r;
  if (!Fits32(Address, Length)) return INPUT_PARAMS_ERROR;
  return SUCCESS;
}

// A transfer made in ranges counts its packets as one per packet would.
BYTE countedRanges(BYTE r, DWORD length, DWORD P) {
  if (r == SUCCESS) Progress += packets(length, P);
  return r;
}

constexpr int kPacketReads = 5;  // reads of one packet at most

// Reads of one packet. A READ answer carries no check bytes, so a byte
// changed on the way looks like the chip's own: a byte counts once two reads
// agree on it and no other value came as often. A changed byte would have to
// be changed the same way twice to pass for the chip's.
class PacketReads {
 public:
  PacketReads(HANDLE h, DWORD address, DWORD n) : m_h(h), m_address(address), m_n(n) {}

  void add(const BYTE* bytes) { std::memcpy(m_reads[m_count++], bytes, m_n); }
  BYTE read() {
    std::memset(m_reads[m_count], 0xFF, KVBL_MAX_PACKET);
    const BYTE r = readPacket(m_h, m_address, m_n, m_reads[m_count]);
    if (r == SUCCESS) ++m_count;
    return r;
  }
  // Reads until every byte counts (into out), at most kPacketReads in all.
  // Reads that never agree are reported as damaged (CMD_NOT_ALLOWED: what
  // the chip holds is unknown, which counts as a difference).
  BYTE settle(BYTE* out) {
    for (;;) {
      if (m_count >= 2 && agreed(out)) return SUCCESS;
      if (m_count == kPacketReads) {
        RecordFailure(m_h, READ_CMD, m_address, KVBL_FAILURE_DAMAGED, kPacketReads);
        return CMD_NOT_ALLOWED;
      }
      const BYTE r = read();
      if (r != SUCCESS) return r;
    }
  }
  const BYTE* first() const { return m_reads[0]; }
  bool firstTwoAgree() const { return std::memcmp(m_reads[0], m_reads[1], m_n) == 0; }

 private:
  bool agreed(BYTE* out) const {
    for (DWORD i = 0; i < m_n; ++i) {
      int best = 0, tie = 0;
      for (int a = 0; a < m_count; ++a) {
        int votes = 0;
        for (int b = 0; b < m_count; ++b) votes += m_reads[a][i] == m_reads[b][i];
        if (votes > best) {
          best = votes;
          tie = 0;
          out[i] = m_reads[a][i];
        } else if (votes == best && m_reads[a][i] != out[i]) {
          tie = 1;
        }
      }
      if (best < 2 || tie) return false;
    }
    return true;
  }

  HANDLE m_h;
  DWORD m_address, m_n;
  int m_count = 0;
  BYTE m_reads[kPacketReads][KVBL_MAX_PACKET];
};

// KVBL_UPLOAD, and with `confirmed` KVBL_UPLOAD_CONFIRMED: every packet read
// twice and settled where the reads differ (Progress + 2 a packet, as an
// upload and its verify count).
BYTE upload(HANDLE hCOM, DWORD Address, LPBYTE pData, DWORD Length, bool confirmed) {
  Call c;
  BYTE r = beginTransfer(hCOM, &TARGET_DESCRIPTOR::READ_CMD, pData, Address, Length, &c);
  if (r != SUCCESS) return r;
  const DWORD P = PacketSize(c.port);
  if (c.f->readRange && Length > 0) {
    // USB checks every packet it carries: one read is the chip's.
    if ((r = c.f->readRange(hCOM, Address, pData, Length)) == SUCCESS)
      Progress += (confirmed ? 2 : 1) * packets(Length, P);
    return r;
  }
  BYTE buf[KVBL_MAX_PACKET];
  for (DWORD off = 0; off < Length;) {
    const DWORD n = Length - off < P ? Length - off : P;
    std::memset(buf, 0xFF, sizeof(buf));
    if (!confirmed) {
      if ((r = readPacket(hCOM, Address + off, n, buf)) != SUCCESS) return r;
    } else {
      PacketReads reads(hCOM, Address + off, n);
      if ((r = reads.read()) != SUCCESS || (r = reads.read()) != SUCCESS) return r;
      if (reads.firstTwoAgree()) std::memcpy(buf, reads.first(), n);
      else if ((r = reads.settle(buf)) != SUCCESS) return r;
      ++Progress;
    }
    std::memcpy(pData + off, buf, n);
    ++Progress;
    off += n;
  }
  return SUCCESS;
}

}  // namespace

extern "C" {

KVBL_API BYTE KVBL_UPLOAD(HANDLE hCOM, DWORD Address, LPBYTE pData, DWORD Length) {
  return upload(hCOM, Address, pData, Length, false);
}

KVBL_API BYTE KVBL_UPLOAD_CONFIRMED(HANDLE hCOM, DWORD Address, LPBYTE pData, DWORD Length) {
  return upload(hCOM, Address, pData, Length, true);
}

KVBL_API BYTE KVBL_VERIFY(HANDLE hCOM, DWORD Address, LPBYTE pData, DWORD Length,
                          BOOL bTruncateLeadFFForDnLoad) {
  Call c;
  BYTE r = beginTransfer(hCOM, &TARGET_DESCRIPTOR::READ_CMD, pData, Address, Length, &c);
  if (r != SUCCESS) return r;
  const DWORD P = PacketSize(c.port);
  if (c.f->readRange && Length > 0)
    return countedRanges(
        verifyRanges(c, Address, pData, Length, bTruncateLeadFFForDnLoad != 0), Length, P);
  BYTE buf[KVBL_MAX_PACKET];
  for (DWORD off = 0; off < Length;) {
    const DWORD n = Length - off < P ? Length - off : P;
    if (!bTruncateLeadFFForDnLoad || !allFF(pData + off, n)) {
      std::memset(buf, 0xFF, sizeof(buf));
      if ((r = readPacket(hCOM, Address + off, n, buf)) != SUCCESS) return r;
      if (std::memcmp(buf, pData + off, n) != 0) {
        // Read again before a difference counts: it may be the line's.
        PacketReads reads(hCOM, Address + off, n);
        reads.add(buf);
        if ((r = reads.settle(buf)) != SUCCESS) return r;
        if (std::memcmp(buf, pData + off, n) != 0) return CMD_NOT_ALLOWED;
      }
    }
    ++Progress;
    off += n;
  }
  return SUCCESS;
}

KVBL_API BYTE KVBL_DNLOAD(HANDLE hCOM, DWORD Address, LPBYTE pData, DWORD Length,
                          BOOL bTruncateLeadFFForDnLoad) {
  Call c;
  BYTE r = beginTransfer(hCOM, &TARGET_DESCRIPTOR::WRITE_CMD, pData, Address, Length, &c);
  if (r != SUCCESS) return r;
  const DWORD P = PacketSize(c.port);
  if (c.f->writeRange && c.f->readRange && Length > 0)
    return countedRanges(
        downloadRanges(c, Address, pData, Length, bTruncateLeadFFForDnLoad != 0), Length, P);
  const DWORD full = Length / P, tail = Length % P;
  BYTE buf[KVBL_MAX_PACKET];
  for (DWORD i = 0; i < full; ++i) {
    std::memcpy(buf, pData + i * P, P);
    if (!bTruncateLeadFFForDnLoad || !allFF(buf, P))
      if ((r = KVBL_WRITE(hCOM, Address + i * P, static_cast<BYTE>(P), buf)) != SUCCESS) return r;
    ++Progress;
  }
  if (tail > 0) {
    const DWORD addr = Address + full * P;
    const BYTE* src = pData + full * P;
    if (!bTruncateLeadFFForDnLoad || !allFF(src, tail)) {
      // The tail is read first so that the pad byte of an odd tail is
      // written with the value the flash already holds.
      std::memset(buf, 0xFF, sizeof(buf));
      if ((r = readPacket(hCOM, addr, tail, buf)) != SUCCESS) return r;
      std::memcpy(buf, src, tail);
      const WORD even = static_cast<WORD>(tail + (tail & 1u));
      if ((r = WritePacket(hCOM, addr, buf, even)) != SUCCESS) return r;
    }
    ++Progress;
  }
  return SUCCESS;
}

KVBL_API BYTE KVBL_ERASE(HANDLE hCOM, WORD NbSectors, LPBYTE pSectors, DWORD sectorSize) {
  Call c;
  BYTE r = Begin(hCOM, nullptr, &c);
  if (r != SUCCESS) return r;
  const bool plain = c.t->ERASE_CMD != 0, ext = c.t->ERASE_EXT_CMD != 0;
  if (!plain && !ext) return CMD_NOT_ALLOWED;
  if (NbSectors == 0) return INPUT_PARAMS_ERROR;

  if (ext) {  // the extended erase is the only one used when it is listed
    if (pSectors == nullptr && !isSpecialCode(NbSectors))
      return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
    if (isSpecialCode(NbSectors)) {
      KVBL_Request rq = Request(ERASE_EXT_CMD);
      rq._wbSectors = NbSectors;
      if (NbSectors == KVBL_ERASE_CODE_BLOCK) {
        rq._length = 4;
        rq._address = sectorSize;  // the block address
      }
      if ((r = Send_RQ(hCOM, &rq)) != SUCCESS) return r;
      Progress = 25;
      return SUCCESS;
    }
    return eraseGroups(hCOM, ERASE_EXT_CMD, NbSectors, pSectors);
  }

  if (NbSectors == 0xFFFF) {
    KVBL_Request rq = Request(ERASE_CMD);
    rq._nbSectors = 0xFF;
    if ((r = Send_RQ(hCOM, &rq)) != SUCCESS) return r;
    Progress = 25;
    return SUCCESS;
  }
  if (pSectors == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  // The plain erase carries one byte per sector: a larger number is
  // refused before anything is sent, never truncated.
  for (WORD i = 0; i < NbSectors; ++i)
    if (pSectors[2 * i + 1] != 0) return INPUT_PARAMS_ERROR;
  return eraseGroups(hCOM, ERASE_CMD, NbSectors, pSectors);
}

KVBL_API BYTE KVBL_BLOCK_ERASE(HANDLE hCOM, WORD cmdNum, DWORD Address) {
  return KVBL_ERASE(hCOM, cmdNum, nullptr, Address);
}

}  // extern "C"
