// Scheduling hint for a thread that spends its time waiting on a line.
//
// Each exchange with a bootloader is a few bytes one way, then a wait for the
// answer: the transfer is a long chain of short waits, and on a busy machine
// every wake-up can queue behind a compiler's whole time slice (milliseconds,
// against a byte time of microseconds). The fair scheduler lets a thread that
// asks for a short slice preempt longer-running ones when it wakes. Asking
// needs no privilege and changes nothing else of the thread: the policy stays
// the default one, the nice value stays as it is, and a thread under any other
// policy (real-time, batch, idle) is left alone. Best effort: kernels without
// custom slices refuse or ignore the request.
//
// Header-only so that the simulator can use the same request.
#ifndef THREADLATENCY_H
#define THREADLATENCY_H

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

// The slice asked for, in nanoseconds (the scheduler's shortest).
constexpr uint64_t kShortTimeSliceNs = 100000;

// Asks a short time slice for the calling thread; true when the kernel took
// the request (it may still not use custom slices).
inline bool RequestShortTimeSlice() {
  struct Attr {  // struct sched_attr, version 1
    uint32_t size;
    uint32_t policy;
    uint64_t flags;
    int32_t nice;
    uint32_t priority;
    uint64_t runtime;
    uint64_t deadline;
    uint64_t period;
    uint32_t utilMin;
    uint32_t utilMax;
  } a{};
  if (syscall(SYS_sched_getattr, 0, &a, static_cast<unsigned>(sizeof a), 0u) != 0) return false;
  if (a.policy != SCHED_OTHER) return false;
  if (a.runtime != 0 && a.runtime <= kShortTimeSliceNs) return true;  // asked already
  Attr b{};
  b.size = sizeof b;
  b.policy = SCHED_OTHER;
  b.flags = a.flags & 0x01u;  // SCHED_FLAG_RESET_ON_FORK stays as it was
  b.nice = a.nice;
  b.runtime = kShortTimeSliceNs;
  return syscall(SYS_sched_setattr, 0, &b, 0u) == 0;
}

#endif  // THREADLATENCY_H
