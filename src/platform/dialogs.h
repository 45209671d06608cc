#pragma once

#include <deque>
#include <string>

// The modal questions the core asks the user. The window shows real dialogs; the in-memory one
// answers what a test or the command line told it.
namespace kvl::platform {

class file_dialogs {
public:
    virtual ~file_dialogs() = default;
    // A file to open (an existing file) or to save (with the default extension, if any); "" when
    // the user cancels. The filter is "All Files (*.*)|*.*".
    virtual std::u16string choose_file(bool open, const std::u16string& default_extension) = 0;
};

class scripted_file_dialogs final : public file_dialogs {
public:
    std::u16string choose_file(bool open, const std::u16string& default_extension) override {
        asked_open.push_back(open);
        asked_extension.push_back(default_extension);
        if (answers.empty()) return {};
        std::u16string answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<std::u16string> answers;
    std::deque<bool> asked_open;
    std::deque<std::u16string> asked_extension;
};

}  // namespace kvl::platform
