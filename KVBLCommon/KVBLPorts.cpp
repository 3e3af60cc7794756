#include "KVBLPorts.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <unistd.h>

#include "KVBLRecovery.h"
#include "SerialPortLinux.h"

// ---- exported data -------------------------------------------------------
extern "C" {
const BYTE ACK = 0x79;
const BYTE NACK = 0x1F;
KVBL_API DWORD Progress = 0;
KVBL_API DWORD ActivityTime = 0;
KVBL_API BYTE Target = 0;
KVBL_API BYTE McuTarget = 0;
KVBL_API DWORD SECTOR_NUM = 0;
}

namespace kvbl {
namespace {

CSerialPortLinux g_COM[KVBL_MAX_PORTS];
CSerialPort* g_line[KVBL_MAX_PORTS];
LPTARGET_DESCRIPTOR g_pTarget[KVBL_MAX_PORTS];
DWORD g_packetSize[KVBL_MAX_PORTS];
const Flavour* g_flavour[KVBL_MAX_PORTS];

void realSleep(unsigned ms) { usleep(static_cast<useconds_t>(ms) * 1000u); }
void (*g_sleep)(unsigned) = realSleep;

constexpr DWORD kDefaultPacket = KVBL_MAX_PACKET;
LineCounters g_counters;

}  // namespace

int PortOf(HANDLE h) {
  const uintptr_t v = reinterpret_cast<uintptr_t>(h);
  return v < static_cast<uintptr_t>(KVBL_MAX_PORTS) ? static_cast<int>(v) : -1;
}

CSerialPort* Line(int port) {
  if (port < 0 || port >= KVBL_MAX_PORTS) return nullptr;
  return g_line[port] ? g_line[port] : &g_COM[port];
}

bool IsOpen(int port) {
  CSerialPort* l = Line(port);
  return l != nullptr && l->isConnected;
}

LPTARGET_DESCRIPTOR Descriptor(int port) {
  if (port < 0 || port >= KVBL_MAX_PORTS) return nullptr;
  return g_pTarget[port];
}

DWORD PacketSize(int port) {
  if (port < 0 || port >= KVBL_MAX_PORTS) return kDefaultPacket;
  const DWORD p = g_packetSize[port];
  return p == 0 ? kDefaultPacket : p;
}

const Flavour* FlavourOf(int port) {
  if (port >= 0 && port < KVBL_MAX_PORTS && g_flavour[port]) return g_flavour[port];
  return SelectedFlavour();
}

void ClearDescriptor(TARGET_DESCRIPTOR* t) {
  if (t == nullptr) return;
  delete[] t->PID;
  std::memset(t, 0, sizeof(*t));
}

void Sleep(unsigned ms) { g_sleep(ms); }

int LineSend(HANDLE h, BYTE* data, size_t n) {
  CSerialPort* l = Line(PortOf(h));
  if (l == nullptr) return -1;
  const int r = l->sendData(n, data);
  if (r > 0) {
    g_counters.sent += static_cast<unsigned>(r);
    ++g_counters.sends;
  }
  return r;
}

int LineReceive(HANDLE h, BYTE* data, size_t n) {
  CSerialPort* l = Line(PortOf(h));
  if (l == nullptr) return -1;
  const int r = l->receiveData(n, data);
  if (r > 0) g_counters.received += static_cast<unsigned>(r);
  return r;
}

LineCounters Counters() { return g_counters; }

void Drain(HANDLE h) {
  CSerialPort* l = Line(PortOf(h));
  if (l == nullptr || !l->isConnected) return;
  const unsigned long saved = l->m_timeout;
  l->setTimeOut(kQuietMs);
  BYTE buf[256];
  // Bounded, so that a line that never stops talking cannot hold us here.
  for (size_t total = 0; total < 64 * 1024;) {
    const int r = LineReceive(h, buf, sizeof buf);
    if (r <= 0) break;
    total += static_cast<size_t>(r);
  }
  l->setTimeOut(saved);
}

ProbeTimeOut::ProbeTimeOut(HANDLE h) : m_line(Line(PortOf(h))) {
  if (m_line == nullptr) return;
  m_saved = m_line->m_timeout;
  if (m_saved > kProbeMs) m_line->setTimeOut(kProbeMs);
}

ProbeTimeOut::~ProbeTimeOut() {
  if (m_line != nullptr) m_line->setTimeOut(m_saved);
}

void ReplaceLine(int port, CSerialPort* line) {
  if (port >= 0 && port < KVBL_MAX_PORTS) g_line[port] = line;
}

void BindFlavour(int port, const Flavour* flavour) {
  if (port >= 0 && port < KVBL_MAX_PORTS) g_flavour[port] = flavour;
}

void SetSleepFunction(void (*fn)(unsigned)) { g_sleep = fn ? fn : realSleep; }

}  // namespace kvbl

using namespace kvbl;

extern "C" {

KVBL_API BYTE SetCOMSettings(PHANDLE phCOM, int numPort, char* portName, long speedInBaud,
                             int nbBit, int parity, float nbStopBit) {
  if (phCOM == nullptr || numPort < 0 || numPort >= KVBL_MAX_PORTS) return INPUT_PARAMS_ERROR;
  if (IsOpen(numPort)) {
    *phCOM = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(numPort));
    return COM_ALREADY_OPENED;
  }
  if (speedInBaud <= 0 || nbBit < 5 || nbBit > 9 || parity < 0 || parity > 2 ||
      !(nbStopBit >= 1.0f && nbStopBit <= 2.0f))
    return INPUT_PARAMS_ERROR;
  const Flavour* f = SelectedFlavour();
  if (f == nullptr) return INPUT_PARAMS_ERROR;  // no transport for the selected type here
  CSerialPort* line = Line(numPort);
  line->setPortSettings(numPort, portName ? std::string(portName) : std::string(), speedInBaud,
                        nbBit, parity, nbStopBit);
  line->setExactRate(f->exactRate);
  line->setAnswerGap(kAnswerGapMs);
  g_flavour[numPort] = f;
  g_packetSize[numPort] = kDefaultPacket;
  *phCOM = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(numPort));
  return SUCCESS;
}

KVBL_API BYTE Interface_Open(HANDLE hCOM) {
  const int port = PortOf(hCOM);
  if (port < 0) return INPUT_PARAMS_ERROR;
  if (IsOpen(port)) return COM_ALREADY_OPENED;
  if (g_flavour[port] == nullptr) g_flavour[port] = SelectedFlavour();
  const Flavour* f = g_flavour[port];
  if (f == nullptr) return CANT_OPEN_COM;
  if (f->open) {
    const BYTE r = f->open(hCOM);
    if (r != SUCCESS) return r;
  } else if (!Line(port)->openPort()) {
    return CANT_OPEN_COM;
  }
  if (g_pTarget[port] == nullptr) g_pTarget[port] = new TARGET_DESCRIPTOR();
  PortOpened(hCOM);
  return SUCCESS;
}

KVBL_API BYTE Interface_Close(HANDLE hCOM) {
  const int port = PortOf(hCOM);
  if (!IsOpen(port)) return NO_CON_AVAILABLE;
  const Flavour* f = g_flavour[port];
  if (f && f->close) f->close(hCOM);
  else Line(port)->closePort();
  if (g_pTarget[port]) {
    ClearDescriptor(g_pTarget[port]);
    delete g_pTarget[port];
    g_pTarget[port] = nullptr;
  }
  return SUCCESS;
}

KVBL_API BOOL Interface_is_Open(HANDLE hCOM) { return IsOpen(PortOf(hCOM)) ? 1 : 0; }

KVBL_API BYTE SetTimeOut(HANDLE hCOM, DWORD vms) {
  const int port = PortOf(hCOM);
  if (!IsOpen(port)) return NO_CON_AVAILABLE;
  Line(port)->setTimeOut(vms);
  return SUCCESS;
}

// The packet size is kept a multiple of 4 within 4..252; 0 is refused.
KVBL_API BYTE SetPaketSize(HANDLE hCOM, BYTE size) {
  const int port = PortOf(hCOM);
  if (port < 0 || size == 0) return INPUT_PARAMS_ERROR;
  DWORD p = size & ~3u;
  if (p < 4) p = 4;
  if (p > KVBL_MAX_PACKET) p = KVBL_MAX_PACKET;
  g_packetSize[port] = p;
  return SUCCESS;
}

KVBL_API BYTE GetPaketSize(HANDLE hCOM, LPBYTE size) {
  const int port = PortOf(hCOM);
  if (port < 0) return INPUT_PARAMS_ERROR;
  if (size == nullptr) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  *size = static_cast<BYTE>(PacketSize(port) & 0xFF);
  return SUCCESS;
}

KVBL_API BYTE TARGET_SetComIntType(BYTE com_int_type) { return SelectInterfaceType(com_int_type); }

// The line calls below do not need an open port; an invalid port number is
// still refused (it would index outside the tables).
KVBL_API BYTE KVBL_SetRts(HANDLE hCOM, bool Val) {
  CSerialPort* l = Line(PortOf(hCOM));
  if (!l) return INPUT_PARAMS_ERROR;
  l->setRts(Val);
  return SUCCESS;
}

KVBL_API BYTE KVBL_SetDtr(HANDLE hCOM, bool Val) {
  CSerialPort* l = Line(PortOf(hCOM));
  if (!l) return INPUT_PARAMS_ERROR;
  l->setDtr(Val);
  return SUCCESS;
}

KVBL_API BYTE KVBL_setTxd(HANDLE hCOM, bool val) {
  CSerialPort* l = Line(PortOf(hCOM));
  if (!l) return INPUT_PARAMS_ERROR;
  l->setTxd(val);
  return SUCCESS;
}

namespace {
BYTE getLine(HANDLE hCOM, bool* pval, bool (CSerialPort::*fn)()) {
  CSerialPort* l = Line(PortOf(hCOM));
  if (!l) return INPUT_PARAMS_ERROR;
  if (!pval) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  *pval = (l->*fn)();
  return SUCCESS;
}
}  // namespace

KVBL_API BYTE KVBL_getCts(HANDLE hCOM, bool* pval) { return getLine(hCOM, pval, &CSerialPort::getCts); }
KVBL_API BYTE KVBL_getDtr(HANDLE hCOM, bool* pval) { return getLine(hCOM, pval, &CSerialPort::getDtr); }
KVBL_API BYTE KVBL_getRi(HANDLE hCOM, bool* pval) { return getLine(hCOM, pval, &CSerialPort::getRi); }
KVBL_API BYTE KVBL_getCd(HANDLE hCOM, bool* pval) { return getLine(hCOM, pval, &CSerialPort::getCd); }

KVBL_API BYTE KVBL_SetEcho(HANDLE hCOM, int val) {
  CSerialPort* l = Line(PortOf(hCOM));
  if (!l) return INPUT_PARAMS_ERROR;
  l->m_bEcho = val;
  return SUCCESS;
}

KVBL_API BYTE KVBL_SetFlowControl(HANDLE hCOM, bool val) {
  CSerialPort* l = Line(PortOf(hCOM));
  if (!l) return INPUT_PARAMS_ERROR;
  l->m_bFlowControl = val;
  return SUCCESS;
}

KVBL_API BYTE KVBL_GetLineState(HANDLE hCOM, LPBYTE state) {
  CSerialPort* l = Line(PortOf(hCOM));
  if (!l) return INPUT_PARAMS_ERROR;
  if (!state) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  *state = l->lineGone() ? KVBL_LINE_GONE : KVBL_LINE_PRESENT;
  return SUCCESS;
}

// ---- progress ------------------------------------------------------------
KVBL_API BYTE SetActivityTime(DWORD time) {
  Progress = 0;
  ActivityTime = time;
  return SUCCESS;
}

KVBL_API BYTE GetActivityTime(LPDWORD time) {
  if (!time) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  *time = ActivityTime;
  return SUCCESS;
}

KVBL_API BYTE GetProgress(LPBYTE progress) {
  if (!progress) return INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  if (ActivityTime == 0) ActivityTime = 1;
  const DWORD pct = Progress * 100 / ActivityTime;
  *progress = static_cast<BYTE>(pct > 100 ? 100 : pct);
  return SUCCESS;
}

}  // extern "C"
