// The part of connectMachine that differs by transport: finding the machine
// (connecting the bridge, or searching the COM ports) until it answers the
// probe. The confirmation and the identity requests that follow are the
// same for both (connect_machine.cpp).
#pragma once

#include "link/session_events.h"

namespace mub {

class MachineLink;

// The connection in progress, as a search sees it.
class SearchHost {
public:
    virtual ~SearchHost() = default;
    // The link: its waits, its stop flag, the COM port last known to
    // answer (a search that finds the machine on a port stores it there).
    virtual MachineLink& link() = 0;
    // Tells the front end what the search found or failed at.
    virtual void tell(const SessionEvent& event) = 0;
    // True when the next failure may be announced; an announced failure
    // clears it, so a condition that persists is shown once.
    virtual bool messagesAllowed() const = 0;
    virtual void setMessagesAllowed(bool allowed) = 0;
    // Probes until the machine answers with the company mark (true), `limit`
    // probes went unanswered (0: no limit), Stop was pressed, or a probe
    // could not be sent (its text shown, messages switched off).
    virtual bool probe(int limit) = 0;
};

class MachineSearch {
public:
    enum class Result {
        Found,    // the machine answers the probe; the transport is open
        NotFound, // a failure was announced or Stop was pressed: the main loop goes on
        GiveUp,   // the search ran out and said so: connectMachine fails
    };
    virtual ~MachineSearch() = default;
    // One pass of connectMachine's main loop.
    virtual Result find() = 0;
    // The link was lost after the machine had answered: the next pass looks again.
    virtual void linkLost() = 0;
};

} // namespace mub
