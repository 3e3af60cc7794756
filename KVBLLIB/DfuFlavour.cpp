#include "DfuFlavour.h"

#include <cstring>
#include <memory>
#include <string>

#include "DfuLine.h"
#include "DfuTarget.h"
#include "KVBLPorts.h"
#include "KVBLLIB.h"
#include "KVBLRequest.h"

namespace kvdfu {
namespace {

constexpr uint32_t kFlashBase = 0x08000000;
constexpr uint32_t kExternalBase = 0x08400000;
constexpr uint32_t kExternalSectorSize = 4096;
constexpr uint16_t kExternalFirstSector = 0x8000;
constexpr WORD kEraseBank1 = 0xFFFE, kEraseBank2 = 0xFFFD;
constexpr uint32_t kBankSplitKB = 512;

// Block-0 codes that stand for the bootloader command of the same code.
constexpr uint8_t kResettingCommands[] = {ACCESS_PROTECT_CMD, ACCESS_LEVEL_PROTECT_CMD,
                                          ERASEPROGRAM_PROTECT_CMD,
                                          ERASEPROGRAM_PERM_UNPROTECT_CMD, RESET_MCU_CMD};

std::unique_ptr<CDfuLine> g_lines[KVBL_MAX_PORTS];

CDfuLine* lineOf(HANDLE h) {
  const int port = kvbl::PortOf(h);
  if (port < 0 || !g_lines[port] || !g_lines[port]->isConnected) return nullptr;
  return g_lines[port].get();
}

CDfuTarget targetOf(CDfuLine* line) { return CDfuTarget(*line); }

// The port's line, made when first needed (it keeps the port's binding
// while the port is closed).
CDfuLine* lineFor(int port) {
  if (!g_lines[port]) g_lines[port].reset(new CDfuLine());
  return g_lines[port].get();
}

BYTE open(HANDLE h) {
  const int port = kvbl::PortOf(h);
  if (port < 0) return INPUT_PARAMS_ERROR;
  CDfuLine* line = lineFor(port);
  line->m_nPortNum = port;
  if (!line->openPort()) return CANT_OPEN_COM;
  kvbl::ReplaceLine(port, line);
  return SUCCESS;
}

void close(HANDLE h) {
  const int port = kvbl::PortOf(h);
  if (port < 0 || !g_lines[port]) return;
  g_lines[port]->closePort();
  kvbl::ReplaceLine(port, nullptr);
}

BYTE initBL(HANDLE h, WORD, DWORD, BYTE) {
  CDfuLine* line = lineOf(h);
  if (line == nullptr) return NO_CON_AVAILABLE;
  return targetOf(line).toIdle();
}

// The command layer reaches a DFU port only through SendRQ.
BYTE noStream(HANDLE, const BYTE*, WORD) { return CMD_NOT_ALLOWED; }
BYTE noRead(HANDLE, BYTE*, WORD) { return CMD_NOT_ALLOWED; }
BYTE noBlock(HANDLE, BYTE*, WORD, WORD* got) {
  *got = 0;
  return CMD_NOT_ALLOWED;
}

BYTE get(HANDLE h, CDfuLine* line) {
  kvbl::WorkingDescriptor w(kvbl::PortOf(h));
  if (!w.valid()) return NO_CON_AVAILABLE;
  uint8_t codes[kvbl::kGetBlockMax];
  uint16_t got = 0;
  const BYTE r = targetOf(line).commandList(codes, sizeof(codes), &got);
  if (r != SUCCESS) return r;
  line->commands.assign(codes, codes + got);
  w.clear();
  const DfuIdentity& id = line->identity();
  BYTE count = 1;
  w.t.GET_CMD = 1;
  if (id.hasId) w.t.GET_ID_CMD = 1, ++count;
  if (id.hasVersion) w.t.GET_VER_ROPS_CMD = 1, ++count;
  if (line->lists(kCmdSetAddress)) {
    w.t.READ_CMD = w.t.WRITE_CMD = w.t.GO_CMD = 1;
    count += 3;
  }
  if (line->lists(kCmdErase)) w.t.ERASE_EXT_CMD = 1, ++count;
  if (line->lists(kCmdReadUnprotect)) w.t.ACCESS_PERM_UNPROTECT_CMD = 1, ++count;
  for (uint8_t code : kResettingCommands)
    if (code != RESET_MCU_CMD && line->lists(code) && kvbl::SetCommandFlag(&w.t, code)) ++count;
  // A chip can always be restarted: by its reset command, else a USB reset.
  w.t.RESET_MCU_CMD = 1, ++count;
  w.t.CmdCount = count;
  w.t.Version = id.version;
  w.store();
  return SUCCESS;
}

BYTE getId(HANDLE h, CDfuLine* line) {
  const DfuIdentity& id = line->identity();
  if (!id.hasId) return CMD_NOT_ALLOWED;
  kvbl::WorkingDescriptor w(kvbl::PortOf(h));
  if (!w.valid()) return NO_CON_AVAILABLE;
  // The 5-byte form of the other links: [15-8][7-0][31-24][23-16][series].
  const BYTE answer[6] = {4,
                          static_cast<BYTE>(id.pid >> 8),
                          static_cast<BYTE>(id.pid),
                          static_cast<BYTE>(id.pid >> 24),
                          static_cast<BYTE>(id.pid >> 16),
                          id.series};
  const BYTE r = kvbl::StoreGetId(&w.t, answer);
  if (r != SUCCESS) return r;
  w.store();
  return SUCCESS;
}

BYTE getVersion(HANDLE h, CDfuLine* line) {
  const DfuIdentity& id = line->identity();
  if (!id.hasVersion) return CMD_NOT_ALLOWED;
  kvbl::WorkingDescriptor w(kvbl::PortOf(h));
  if (!w.valid()) return NO_CON_AVAILABLE;
  w.t.Version = id.version;
  w.t.ROPE = static_cast<BYTE>(id.bid >> 8);
  w.t.ROPD = static_cast<BYTE>(id.bid);
  w.store();
  return SUCCESS;
}

BYTE erasePage(CDfuTarget& t, uint32_t address) {
  uint8_t frame[5] = {kCmdErase};
  for (int b = 0; b < 4; ++b) frame[1 + b] = static_cast<uint8_t>(address >> (8 * b));
  return t.command(frame, sizeof(frame));
}

// Bank 1 is the first 512 KB of the main flash (all of it on smaller chips),
// bank 2 the rest; erased page by page.
BYTE eraseBank(CDfuTarget& t, const DfuIdentity& id, bool second) {
  if (id.sectorSize == 0 || id.flashKB == 0) return CMD_NOT_ALLOWED;
  const uint32_t split = (id.flashKB < kBankSplitKB ? id.flashKB : kBankSplitKB) * 1024u;
  const uint32_t from = second ? split : 0, to = second ? id.flashKB * 1024u : split;
  if (from >= to) return CMD_NOT_ALLOWED;  // no second bank
  for (uint32_t off = from; off < to; off += id.sectorSize) {
    const BYTE r = erasePage(t, kFlashBase + off);
    if (r != SUCCESS) return r;
  }
  return SUCCESS;
}

BYTE erase(CDfuLine* line, const KVBL_Request* rq) {
  CDfuTarget t = targetOf(line);
  const WORD code = rq->_wbSectors;
  if (code == KVBL_ERASE_CODE_FFFF) {
    const uint8_t mass[1] = {kCmdErase};
    return t.command(mass, 1);
  }
  if (code == kEraseBank1 || code == kEraseBank2)
    return eraseBank(t, line->identity(), code == kEraseBank2);
  if (code > 0xFEFF) return CMD_NOT_ALLOWED;  // external bank and block codes
  const uint32_t sector = line->identity().sectorSize;
  for (WORD i = 0; i < code; ++i) {
    const uint16_t k = static_cast<uint16_t>(rq->_data[2 * i] | (rq->_data[2 * i + 1] << 8));
    uint32_t address;
    if (k >= kExternalFirstSector) {
      address = kExternalBase + (k - kExternalFirstSector) * kExternalSectorSize;
    } else {
      if (sector == 0) return CMD_NOT_ALLOWED;  // the device gave no sector size
      address = kFlashBase + k * sector;
    }
    const BYTE r = erasePage(t, address);
    if (r != SUCCESS) return r;
  }
  return SUCCESS;
}

BYTE resettingCommand(CDfuLine* line, const KVBL_Request* rq) {
  uint8_t frame[2 + 256];
  uint16_t n = 1;
  frame[0] = rq->_cmd;
  if (rq->_cmd == ERASEPROGRAM_PROTECT_CMD) {
    frame[1] = rq->_nbSectors;
    std::memcpy(frame + 2, rq->_data, rq->_nbSectors);
    n = static_cast<uint16_t>(2 + rq->_nbSectors);
  } else if (rq->_cmd == ACCESS_LEVEL_PROTECT_CMD) {
    frame[1] = rq->_RemapFlag;
    n = 2;
  }
  return targetOf(line).commandThatResets(frame, n);
}

bool isResetting(BYTE cmd) {
  for (uint8_t code : kResettingCommands)
    if (code == cmd) return true;
  return cmd == ACCESS_PERM_UNPROTECT_CMD;
}

// Whole ranges for the block transfers of the command layer: one UPLOAD or
// DNLOAD per transfer-size block instead of a request per packet.
BYTE readRange(HANDLE h, DWORD address, BYTE* data, DWORD length) {
  CDfuLine* line = lineOf(h);
  if (line == nullptr) return NO_CON_AVAILABLE;
  line->errorStatus() = DfuErrorStatus();
  if (!line->lists(kCmdSetAddress)) return CMD_NOT_ALLOWED;
  return targetOf(line).upload(static_cast<uint32_t>(address), data, static_cast<uint32_t>(length));
}

BYTE writeRange(HANDLE h, DWORD address, const BYTE* data, DWORD length) {
  CDfuLine* line = lineOf(h);
  if (line == nullptr) return NO_CON_AVAILABLE;
  line->errorStatus() = DfuErrorStatus();
  if (!line->lists(kCmdSetAddress)) return CMD_NOT_ALLOWED;
  return targetOf(line).download(static_cast<uint32_t>(address), data, static_cast<uint32_t>(length));
}

}  // namespace

BYTE SendRQ(HANDLE h, LPKVBL_Request rq) {
  CDfuLine* line = lineOf(h);
  if (line == nullptr) return NO_CON_AVAILABLE;
  line->errorStatus() = DfuErrorStatus();
  BYTE r = kvbl::ValidateRequest(rq);
  if (r != SUCCESS) return r;
  const BYTE cmd = rq->_cmd;
  if (cmd == GET_CMD) return get(h, line);
  if (cmd == GET_ID_CMD) return getId(h, line);
  if (cmd == GET_VER_ROPS_CMD) return getVersion(h, line);
  const bool addressed = line->lists(kCmdSetAddress);
  switch (cmd) {
    case READ_CMD:
      if (!addressed) return CMD_NOT_ALLOWED;
      return targetOf(line).upload(static_cast<uint32_t>(rq->_address), rq->_data, rq->_length);
    case WRITE_CMD:
      if (!addressed) return CMD_NOT_ALLOWED;
      return targetOf(line).download(static_cast<uint32_t>(rq->_address), rq->_data, rq->_length);
    case GO_CMD:
      if (!addressed) return CMD_NOT_ALLOWED;
      return targetOf(line).leave(static_cast<uint32_t>(rq->_address));
    case ERASE_EXT_CMD:
      if (!line->lists(kCmdErase)) return CMD_NOT_ALLOWED;
      return erase(line, rq);
    default:
      break;
  }
  if (cmd == RESET_MCU_CMD) return targetOf(line).restart();
  if (isResetting(cmd) && line->lists(cmd)) return resettingCommand(line, rq);
  return CMD_NOT_ALLOWED;  // no DFU counterpart, or not listed by the device
}

const kvbl::Flavour kFlavour = [] {
  kvbl::Flavour f = kvbl::LineFlavour("DFU", KVBL_INTERFACE_DFU, initBL, noStream, noRead, noBlock);
  f.open = open;
  f.close = close;
  f.sendRQ = SendRQ;
  f.readRange = readRange;
  f.writeRange = writeRange;
  return f;
}();

}  // namespace kvdfu

KVBL_API BYTE KVBL_BindDFUDevice(HANDLE hCOM, const char* deviceInfo) {
  const int port = kvbl::PortOf(hCOM);
  if (port < 0) return INPUT_PARAMS_ERROR;
  const std::string info = deviceInfo ? std::string(deviceInfo, strnlen(deviceInfo, KVBL_DFU_INFO_LENGTH)) : "";
  std::string path, serial;
  if (!info.empty()) {
    // "usb:1-4.2 1209:4b56 serial=KV0001", as KVBL_GetKVDeviceList gives it.
    const size_t blank = info.find(' '), at = info.find(" serial=");
    if (info.compare(0, 4, "usb:") != 0 || blank == std::string::npos || blank <= 4 || at == std::string::npos)
      return INPUT_PARAMS_ERROR;
    path = info.substr(4, blank - 4);
    serial = info.substr(at + 8);
  }
  kvdfu::lineFor(port)->bind(path, serial);
  return SUCCESS;
}

KVBL_API BYTE KVBL_GetDFUStatus(HANDLE hCOM, LPBYTE pStatus, LPBYTE pState) {
  const int port = kvbl::PortOf(hCOM);
  if (port < 0 || !pStatus || !pState) return INPUT_PARAMS_ERROR;
  *pStatus = 0;
  *pState = 0;
  if (kvdfu::g_lines[port]) {
    *pStatus = kvdfu::g_lines[port]->errorStatus().status;
    *pState = kvdfu::g_lines[port]->errorStatus().state;
  }
  return SUCCESS;
}
