"""Time the hypervisor gave this machine's cores to other guests (steal), for the benchmarks: their figures
fall with it, so they print it beside them."""
import os

TICKS = os.sysconf("SC_CLK_TCK")


def steal_seconds():
    """Steal so far, all cores together, in seconds (0 on bare metal or where /proc/stat lacks it)."""
    try:
        with open("/proc/stat") as f:
            fields = f.readline().split()
        return int(fields[8]) / TICKS
    except (OSError, IndexError, ValueError):
        return 0.0
