// Driver requests that the terminal header cannot express: arbitrary rates
// (termios2 with BOTHER) and the USB serial low-latency flag. Kept apart
// because the kernel's terminal structures clash with <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>

#include "SerialPortRate.h"

extern "C" int ioctl(int fd, unsigned long request, ...);

bool SerialSetArbitraryRate(int fd, unsigned long rate) {
  struct termios2 t2;
  if (ioctl(fd, TCGETS2, &t2) < 0) return false;
  t2.c_cflag &= ~CBAUD;
  t2.c_cflag |= BOTHER;
  t2.c_cflag &= ~(CBAUD << IBSHIFT);
  t2.c_cflag |= BOTHER << IBSHIFT;
  t2.c_ispeed = static_cast<speed_t>(rate);
  t2.c_ospeed = static_cast<speed_t>(rate);
  return ioctl(fd, TCSETS2, &t2) >= 0;
}

bool SerialGetRates(int fd, unsigned long* in, unsigned long* out) {
  struct termios2 t2;
  if (ioctl(fd, TCGETS2, &t2) < 0) return false;
  if (in) *in = t2.c_ispeed;
  if (out) *out = t2.c_ospeed;
  return true;
}

bool SerialSetLowLatency(int fd, bool on) {
  struct serial_struct ss;
  if (ioctl(fd, TIOCGSERIAL, &ss) < 0) return false;  // not a serial driver: skip
  const bool isOn = (ss.flags & ASYNC_LOW_LATENCY) != 0;
  if (isOn == on) return false;
  if (on) ss.flags |= ASYNC_LOW_LATENCY;
  else ss.flags &= ~ASYNC_LOW_LATENCY;
  return ioctl(fd, TIOCSSERIAL, &ss) >= 0;
}
