#pragma once
// Prompts for tests: records every box and answers from a queue. A box the test did not
// expect (nothing queued) fails the test.
#include "common/UserPrompts.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace quellon::test {

struct RecordedBox {
    std::string caption;
    std::string text;
    PromptButtons buttons;
    std::string details;
};

class ScriptedPrompts final : public UserPrompts {
public:
    // The answer to give to the next box, and what that box must say.
    void Expect(const std::string& caption, const std::string& text, PromptAnswer answer) {
        m_queue.push_back({caption, text, answer});
    }
    void ExpectFile(const std::string& path) { m_files.push_back(path); }

    PromptAnswer Message(const std::string& caption, const std::string& text, PromptButtons buttons,
                         const std::string& details = {}) override {
        boxes.push_back({caption, text, buttons, details});
        if (m_queue.empty()) {
            ADD_FAILURE() << "unexpected box \"" << caption << "\": " << text;
            return buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Cancel;
        }
        const Entry e = m_queue.front();
        m_queue.pop_front();
        EXPECT_EQ(caption, e.caption);
        EXPECT_EQ(text, e.text);
        return e.answer;
    }
    std::string OpenFileName(const std::string& caption, const std::string&) override {
        return NextFile(caption);
    }
    std::string SaveFileName(const std::string& caption, const std::string&) override {
        return NextFile(caption);
    }

    bool AllUsed() const { return m_queue.empty() && m_files.empty(); }
    std::vector<RecordedBox> boxes;

private:
    struct Entry {
        std::string caption;
        std::string text;
        PromptAnswer answer;
    };
    std::string NextFile(const std::string& caption) {
        if (m_files.empty()) {
            ADD_FAILURE() << "unexpected file dialog \"" << caption << "\"";
            return {};
        }
        std::string f = m_files.front();
        m_files.pop_front();
        return f;
    }
    std::deque<Entry> m_queue;
    std::deque<std::string> m_files;
};

} // namespace quellon::test
