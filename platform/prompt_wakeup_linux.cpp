#include "platform/prompt_wakeup.h"

#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace mub {

namespace {
// The first version of the kernel's sched_attr; the later fields (utilisation
// clamps) are left alone.
struct SchedAttr {
    std::uint32_t size;
    std::uint32_t policy;
    std::uint64_t flags;
    std::int32_t nice;
    std::uint32_t priority;
    std::uint64_t runtime; // for normal threads: the slice asked for, in ns
    std::uint64_t deadline;
    std::uint64_t period;
};
static_assert(sizeof(SchedAttr) == 48);

constexpr std::uint64_t shortSliceNs = 100'000; // the shortest the kernel grants
} // namespace

void askForPromptWakeups() {
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    SchedAttr attr{};
    if (::syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0) return;
    // Only a normal thread: a batch or real-time one was placed so by its owner.
    if (attr.policy != SCHED_OTHER || (attr.runtime != 0 && attr.runtime <= shortSliceNs)) return;
    attr.size = sizeof attr;
    attr.flags = 0; // the nice value read above is kept as it is
    attr.runtime = shortSliceNs;
    ::syscall(SYS_sched_setattr, 0, &attr, 0);
}

} // namespace mub
