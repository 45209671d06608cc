#pragma once

#include <deque>
#include <optional>
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
    // A folder ("Please select a folder"); "" when the user cancels.
    virtual std::u16string choose_folder() = 0;
};

// What the Search dialog was left with.
struct search_answer {
    bool use_mask = true;
    std::u16string mask = u"*";
    bool use_size = false;
    int comparison = 0;  // 0 less than, 1 more than
    std::u16string size = u"10";
};

class search_dialog {
  public:
    virtual ~search_dialog() = default;
    // Nothing when the dialog is closed without Find.
    virtual std::optional<search_answer> ask() = 0;
};

class scripted_search_dialog final : public search_dialog {
  public:
    std::optional<search_answer> ask() override {
        if (answers.empty()) return std::nullopt;
        std::optional<search_answer> answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<std::optional<search_answer>> answers;
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
    std::u16string choose_folder() override {
        if (folders.empty()) return {};
        std::u16string folder = folders.front();
        folders.pop_front();
        return folder;
    }
    std::deque<std::u16string> answers;
    std::deque<std::u16string> folders;
    std::deque<bool> asked_open;
    std::deque<std::u16string> asked_extension;
};

}  // namespace kvl::platform
