#pragma once
// The user's side of every message box, question and file dialog.
#include "common/UserPrompts.h"

class QWidget;

namespace quellon {

class QtUserPrompts final : public UserPrompts {
public:
    PromptAnswer Message(const std::string& caption, const std::string& text, PromptButtons buttons,
                         const std::string& details = {}) override;
    std::string OpenFileName(const std::string& caption, const std::string& filter) override;
    std::string SaveFileName(const std::string& caption, const std::string& filter) override;
};

} // namespace quellon
