// Driver requests beyond the terminal header (kept apart from <termios.h>).
#ifndef SERIALPORTRATE_H
#define SERIALPORTRATE_H

// Maps an exact rate to a standard terminal speed constant; 0 when there is
// none (the rate then needs an arbitrary-rate request).
unsigned int SerialStandardSpeed(unsigned long rate);
// Applies an arbitrary rate to both directions of an open terminal.
bool SerialSetArbitraryRate(int fd, unsigned long rate);
// Reads the rate of both directions back; false when the driver cannot say.
bool SerialGetRates(int fd, unsigned long* in, unsigned long* out);
// Best-effort low-latency switch of USB serial drivers; returns true when
// the flag was changed (so that it is restored on close).
bool SerialSetLowLatency(int fd, bool on);

#endif  // SERIALPORTRATE_H
