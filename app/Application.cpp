#include "app/Application.h"

#include "config/TForm2.h"
#include "dialogs/TForm5.h"
#include "dialogs/TForm6.h"
#include "dialogs/TForm7.h"
#include "monitor/LiveStatus.h"
#include "monitor/TForm1.h"
#include "reporting/TForm4.h"
#include "serial/PortDirectory.h"
#include "serial/TForm3.h"
#include "serial/TFrmComms.h"
#include "sim/VirtualSensor.h"

namespace quellon {

Application::Application(const CommandLine& options, UserPrompts& prompts) : m_options(options) {
    m_forms.Prompts = &prompts;
    m_forms.ServiceMode = options.service;
}

Application::~Application() {
    delete m_forms.Form7;
    delete m_forms.Form6;
    delete m_forms.Form5;
    delete m_forms.Form4;
    delete m_forms.Form2;
    delete m_forms.Form3;
    delete m_forms.FrmComms;
    delete m_forms.Form1;
    if (m_sim) {
        m_sim->Stop();
    }
}

bool Application::Prepare(std::string& error) {
    PortDirectory& directory = PortDirectory::Instance();
    if (m_options.noDefaultPorts || m_options.simulate) {
        directory.DropDefaults();
    }
    if (m_options.simulate) {
        const sim::Options o = sim::SimulatedSensorOptions(m_options.simModel, m_options.simOutput,
                                                           m_options.simThird);
        m_sim = std::make_unique<sim::VirtualSensor>(o);
        if (!m_sim->Start(&error)) {
            error = "cannot start the virtual sensor: " + error;
            return false;
        }
        directory.Map(1, m_sim->SlavePath());
    }
    for (const auto& [number, path] : m_options.ports) {
        directory.Map(number, path);
    }
    return true;
}

void Application::CreateForms() {
    m_forms.Form1 = new TForm1(m_forms);
    m_gonePrompts = std::make_unique<GoneDevicePrompts>(*m_forms.Prompts, m_forms.Form1->Ports());
    m_forms.Prompts = m_gonePrompts.get();
    m_forms.FrmComms = new TFrmComms(m_forms.Form1->Ports(), m_forms.Form1);
    m_forms.Form3 = new TForm3(m_forms.Form1);
    m_forms.Form2 = new TForm2(m_forms);
    m_forms.Form4 = new TForm4(m_forms);
    m_forms.Form5 = new TForm5(m_forms);
    m_forms.Form6 = new TForm6(m_forms);
    m_forms.Form7 = new TForm7(m_forms);
}

void Application::ShowMain() {
    m_forms.Form1->show();
}

} // namespace quellon
