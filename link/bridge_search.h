// connectMachine's search over the bridge library: connect (telling why
// not, once), set the mode, then probe without a limit until the machine
// answers. Every pass of the main loop connects again.
#pragma once

#include "link/machine_search.h"

namespace mub {

class BridgeTransport;

class BridgeSearch : public MachineSearch {
public:
    BridgeSearch(BridgeTransport& bridge, SearchHost& host) : bridge_(bridge), host_(host) {}
    Result find() override;
    void linkLost() override {}

private:
    BridgeTransport& bridge_;
    SearchHost& host_;
};

} // namespace mub
