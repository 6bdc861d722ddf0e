// connectMachine's search over COM ports: the port last known to answer
// first, then port after port until one answers the probe, 510 attempts in
// all. Once a port has answered the search is over, unless the link to it
// is lost.
#pragma once

#include "link/machine_search.h"
#include "platform/serial_port_list.h"

#include <string>
#include <vector>

namespace mub {

class SerialTransport;

// The order of the ports after the one last known to answer: the ports the
// system lists first (by number), then the others from COM1 up, the
// system's Bluetooth ports last (an open of one may take many seconds).
// Without a list: COM1 to COM255.
std::vector<int> portSearchOrder(const std::vector<ListedSerialPort>& listed);

class PortSearch : public MachineSearch {
public:
    PortSearch(SerialTransport& serial, SearchHost& host);
    Result find() override;
    void linkLost() override;

private:
    bool probeOpenPort();

    SerialTransport& serial_;
    SearchHost& host_;
    const std::vector<int> order_;
    std::size_t next_ = 0;
    std::string currentPort_;
    int failedAttempts_ = 0;
    bool answered_ = false;
    std::string deniedDevice_, deniedGroup_;
};

} // namespace mub
