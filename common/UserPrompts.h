#pragma once
// Every message box, question and file dialog of the program goes through this interface:
// a Qt implementation for the user, a scripted one for tests.
#include <string>

namespace quellon {

enum class PromptButtons { Ok, OkCancel, YesNo };
enum class PromptAnswer { Ok, Cancel, Yes, No };

class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // A modal box. `details` goes into the box's expandable detailed text when not empty.
    virtual PromptAnswer Message(const std::string& caption, const std::string& text,
                                 PromptButtons buttons, const std::string& details = {}) = 0;
    // File dialogs; an empty result means the user cancelled. `filter` is in Qt's form,
    // for example "Configuration files (*.dsc)".
    virtual std::string OpenFileName(const std::string& caption, const std::string& filter) = 0;
    virtual std::string SaveFileName(const std::string& caption, const std::string& filter) = 0;
};

} // namespace quellon
