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

namespace {
// The rate's own constant where there is one; BOTHER (any rate) otherwise.
tcflag_t speedCode(std::uint32_t rate) {
    switch (rate) {
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return BOTHER;
    }
}
} // namespace

bool setLineSpeed(int fd, std::uint32_t rate) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
    const tcflag_t code = speedCode(rate);
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= code | (code << IBSHIFT);
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

} // namespace mub::bridge
