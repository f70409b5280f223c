#pragma once
// The eight windows of the program. Each lives for the whole run and is only shown and
// hidden; every window can reach the others through this table.

#include <functional>

namespace quellon {

class TForm1;
class TFrmComms;
class TForm3;
class TForm2;
class TForm4;
class TForm5;
class TForm6;
class TForm7;
class UserPrompts;

struct AppForms {
    TForm1* Form1 = nullptr;       // main window
    TFrmComms* FrmComms = nullptr; // "Select Port"
    TForm3* Form3 = nullptr;       // progress
    TForm2* Form2 = nullptr;       // configuration
    TForm4* Form4 = nullptr;       // reporting
    TForm5* Form5 = nullptr;       // LED test
    TForm6* Form6 = nullptr;       // calibration
    TForm7* Form7 = nullptr;       // about
    UserPrompts* Prompts = nullptr;
    bool ServiceMode = false;
    // Ends the program's message loop when the main window closes (the other windows are
    // not asked). Empty where no loop runs, as in tests.
    std::function<void()> EndProgram;
};

} // namespace quellon
