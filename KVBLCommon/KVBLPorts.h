// Per-port state shared by every flavour: the serial-port table, the target
// descriptors, the packet sizes and the flavour bound to each port.
#ifndef KVBLPORTS_H
#define KVBLPORTS_H

#include "KVBL.h"
#include "KVBLFlavour.h"

class CSerialPort;

namespace kvbl {

// Port number held by a handle; -1 when it is outside 0..1024.
int PortOf(HANDLE h);
bool IsOpen(int port);
// The port's line (never null for a valid port number).
CSerialPort* Line(int port);
// The port's descriptor; null until Interface_Open.
LPTARGET_DESCRIPTOR Descriptor(int port);
// Packet size, always a multiple of 4 in 4..252.
DWORD PacketSize(int port);
// The flavour bound to the port, else the one selected now; may be null.
const Flavour* FlavourOf(int port);
// Frees a descriptor's identifier buffer and zeroes the descriptor.
void ClearDescriptor(TARGET_DESCRIPTOR* t);

// Raw line traffic of a port for the flavours' framing: the count moved, or
// -1 (also for a port number outside the table). `data` may be overwritten
// by an echo mode, so it is never the caller's constant data.
int LineSend(HANDLE h, BYTE* data, size_t n);
int LineReceive(HANDLE h, BYTE* data, size_t n);

// Bytes moved by LineSend / LineReceive since the library was loaded, and
// the number of sends that moved bytes (each one a turn of the half-duplex
// line, what the benchmarks count the per-exchange overhead by).
struct LineCounters {
  unsigned long long sent = 0;
  unsigned long long received = 0;
  unsigned long long sends = 0;
};
LineCounters Counters();

// Waits (through a replaceable function, so tests need not sleep).
void Sleep(unsigned ms);

// ---- bringing a line back in step (KVBLRecovery.h) ----------------------
constexpr unsigned kQuietMs = 40;   // a line quiet this long has nothing more on its way
constexpr unsigned kProbeMs = 300;  // the longest wait for an answer meanwhile
// An answer that has begun and then pauses this long has lost bytes on the
// way (CSerialPort::setAnswerGap): it is short at once, not after the
// port's whole time-out. Long enough for the latency timers of USB adapters
// and the delays of network bridges in the middle of an answer.
constexpr unsigned kAnswerGapMs = 100;

// Reads and drops whatever arrives until the line has been quiet kQuietMs.
void Drain(HANDLE h);

// Shortens the port's receive time-out to kProbeMs while it lives: a chip
// that is listening again answers at once, one that is not costs no more
// than that.
class ProbeTimeOut {
 public:
  explicit ProbeTimeOut(HANDLE h);
  ~ProbeTimeOut();
  ProbeTimeOut(const ProbeTimeOut&) = delete;
  ProbeTimeOut& operator=(const ProbeTimeOut&) = delete;

 private:
  CSerialPort* m_line;
  unsigned long m_saved = 0;
};

// A bridge that answers "busy" did nothing with the frame: the exchange is
// made again, at most kBusyRepeats more times, kBusyPauseMs apart.
constexpr int kBusyRepeats = 3;
constexpr unsigned kBusyPauseMs = 5;
template <typename Exchange>
BYTE WhileBusy(BYTE busy, Exchange exchange) {
  BYTE r = exchange();
  for (int i = 0; i < kBusyRepeats && r == busy; ++i) {
    Sleep(kBusyPauseMs);
    r = exchange();
  }
  return r;
}

// ---- hooks for tests that link the objects directly --------------------
// Puts a line object in place of the port's serial port; null restores it.
void ReplaceLine(int port, CSerialPort* line);
void BindFlavour(int port, const Flavour* flavour);
void SetSleepFunction(void (*fn)(unsigned ms));

}  // namespace kvbl

#endif  // KVBLPORTS_H
