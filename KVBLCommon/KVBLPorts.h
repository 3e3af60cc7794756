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

// ---- hooks for tests that link the objects directly --------------------
// Puts a line object in place of the port's serial port; null restores it.
void ReplaceLine(int port, CSerialPort* line);
void BindFlavour(int port, const Flavour* flavour);
void SetSleepFunction(void (*fn)(unsigned ms));

}  // namespace kvbl

#endif  // KVBLPORTS_H
