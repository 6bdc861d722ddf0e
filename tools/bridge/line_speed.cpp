// Uses the kernel's termios2 interface directly, which takes any rate; the C
// library's termios has constants only for the standard ones. Kept in a file
// of its own because the kernel header clashes with <termios.h>.
#include "tools/bridge/line_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace mub::bridge {

std::uint32_t rateOfIndex(int index) {
    static const std::uint32_t rates[] = {4800, 9600, 19200, 38400, 51200, 57600, 102400, 115200};
    return index >= 0 && index < 8 ? rates[index] : 0;
}

bool setLineSpeed(int fd, std::uint32_t rate) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

} // namespace mub::bridge
