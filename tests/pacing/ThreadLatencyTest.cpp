// The short-slice request of the serial port changes the time slice of a
// default-policy thread and nothing else: the nice value stays, and threads
// under another policy are left as they are (a real-time or batch thread is
// never turned into a default one).
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <thread>

#include "ThreadLatency.h"

namespace {

struct Attr {
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
};

bool readAttr(Attr* a) {
  *a = Attr{};
  return syscall(SYS_sched_getattr, 0, a, static_cast<unsigned>(sizeof *a), 0u) == 0;
}

struct Case {
  const char* name;
  int policy;
  int nice;
};

const Case kCases[] = {{"default", SCHED_OTHER, 0},
                       {"default_nice", SCHED_OTHER, 7},
                       {"batch", SCHED_BATCH, 3},
                       {"idle", SCHED_IDLE, 0}};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ShortSlice : public ::testing::TestWithParam<Case> {};

TEST_P(ShortSlice, OnlyTheDefaultPolicysSliceChanges) {
  const Case c = GetParam();
  // In a thread of its own: the attributes are per thread.
  std::thread t([&] {
    sched_param p{};
    ASSERT_EQ(0, sched_setscheduler(0, c.policy, &p));
    ASSERT_EQ(0, setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), c.nice));
    Attr before{};
    ASSERT_TRUE(readAttr(&before));
    const bool taken = RequestShortTimeSlice();
    Attr after{};
    ASSERT_TRUE(readAttr(&after));
    EXPECT_EQ(before.policy, after.policy);
    EXPECT_EQ(before.nice, after.nice);
    EXPECT_EQ(c.nice, after.nice);
    if (c.policy != SCHED_OTHER) {
      EXPECT_FALSE(taken);
      EXPECT_EQ(before.runtime, after.runtime);
    } else if (taken && after.runtime != 0) {
      // Kernels with custom slices report the thread's slice here.
      EXPECT_LE(after.runtime, kShortTimeSliceNs);
    }
    // Asking again changes nothing more.
    RequestShortTimeSlice();
    Attr again{};
    ASSERT_TRUE(readAttr(&again));
    EXPECT_EQ(after.policy, again.policy);
    EXPECT_EQ(after.nice, again.nice);
    EXPECT_EQ(after.runtime, again.runtime);
  });
  t.join();
}

INSTANTIATE_TEST_SUITE_P(Policies, ShortSlice, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
