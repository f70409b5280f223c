#pragma once
// The program as a whole: the eight windows in their fixed order, the port directory set up
// from the command line, and the built-in virtual sensor for --simulate.
#include "common/AppForms.h"
#include "common/CommandLine.h"

#include <memory>
#include <string>

namespace quellon {

namespace sim {
class VirtualSensor;
}
class GoneDevicePrompts;

class Application {
public:
    // `prompts` answers every box; the Qt one for the user, a scripted one in tests.
    Application(const CommandLine& options, UserPrompts& prompts);
    ~Application();

    // Starts the virtual sensor when asked for and maps the ports. False with a message
    // when the virtual sensor cannot start.
    bool Prepare(std::string& error);
    // Creates the windows in their order: main, port selection, progress, configuration,
    // reporting, LED test, calibration, about.
    void CreateForms();
    // Shows the main window, which starts the search.
    void ShowMain();

    AppForms& Forms() { return m_forms; }
    sim::VirtualSensor* Simulator() { return m_sim.get(); }

private:
    CommandLine m_options;
    AppForms m_forms;
    std::unique_ptr<sim::VirtualSensor> m_sim;
    std::unique_ptr<GoneDevicePrompts> m_gonePrompts; // wraps the prompts given
};

} // namespace quellon
