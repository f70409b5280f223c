#pragma once
// Finding the sensor again after its port went away (an adapter pulled out, a cable cut):
// the same COM number, and so the same path (a /dev/serial/by-id link, a COM number that
// comes back), is opened again once a second; when it opens and the sensor answers, what the
// start-up does after choosing a port follows. No other port is ever opened here. The main
// window runs it from a timer; each attempt is short and nothing waits in between. A network
// port opens on a thread of its own while the exchange processes events, so an attempt on a
// server that answers slowly or not at all leaves the window usable; an attempt that such an
// event would start while one runs does nothing.
#include "serial/CommandExchange.h"

#include <functional>
#include <string>

namespace quellon {

class PortRecovery {
public:
    enum class State {
        Present,  // the port is there (nothing to recover)
        Gone,     // the port's device has gone and does not open again yet
        NoAnswer, // it opens again, but the sensor does not answer (in its bootloader?)
        Recovered // the sensor answered: identified, unlocked, its features read
    };

    explicit PortRecovery(CommandExchange& exchange) : m_exchange(exchange) {}

    // True when the sensor's channel has seen its device go.
    bool PortGone() const;

    // The port has gone: the state becomes Gone and the trace says so.
    void Begin();
    // One attempt: reopens the port when it is closed or gone, asks one short identification
    // and, on an identification reply (nothing else: a foreign device at the sensor's path is
    // never sent the unlock), identifies the sensor in earnest, unlocks it and runs
    // `featuresRead` (ConnectChosenSensor). Each change of state goes to the trace once.
    // `abandoned` is asked while a network port opens; when it holds, the attempt ends.
    State Attempt(const std::function<void(const std::string&)>& setTitle,
                  const std::function<void()>& featuresRead,
                  const std::function<bool()>& abandoned = {});
    State Current() const { return m_state; }
    // True while an attempt runs (events processed during it may ask for another).
    bool Attempting() const { return m_attempting; }

private:
    void Enter(State state);
    bool Probe();

    CommandExchange& m_exchange;
    State m_state = State::Present;
    bool m_attempting = false;
};

} // namespace quellon
