// connectMachine's search over COM ports: the port last known to answer
// first, then port after port until one answers the probe, 510 attempts in
// all. Once a port has answered the search is over, unless the link to it
// is lost.
#pragma once

#include "link/machine_search.h"

#include <string>

namespace mub {

class SerialTransport;

class PortSearch : public MachineSearch {
public:
    PortSearch(SerialTransport& serial, SearchHost& host);
    Result find() override;
    void linkLost() override;

private:
    bool probeOpenPort();

    SerialTransport& serial_;
    SearchHost& host_;
    int portIndex_ = 0;
    std::string currentPort_;
    int failedAttempts_ = 0;
    bool answered_ = false;
    std::string deniedDevice_, deniedGroup_;
};

} // namespace mub
