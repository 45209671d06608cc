#pragma once

#include <algorithm>
#include <boost/function.hpp>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// The dialogs of the searches: the start percentage of the partition search and the file types of
// the low-level search. Their checks are the core's; the window draws them, the in-memory ones
// answer what a test or the command line told them.
namespace kvl::platform {

class partition_scan_dialog {
  public:
    virtual ~partition_scan_dialog() = default;
    // Shows the dialog with the edit's text; the text when Scan is pressed, nothing on Close.
    virtual std::optional<std::u16string> ask(const std::u16string& text) = 0;
};

struct file_type_row {
    std::u16string caption;
    std::u16string group;
    int image = -1;
    bool checked = false;
};

class file_type_dialog {
  public:
    using scan_check = boost::function<bool(const std::vector<file_type_row>& rows)>;
    virtual ~file_type_dialog() = default;
    // Shows the rows (grouped in order of first use) and lets the user check them; Scan is accepted
    // only when scan_check agrees. True when the dialog was left with Scan (rows hold the checks).
    virtual bool choose(std::vector<file_type_row>& rows, const scan_check& check) = 0;
};

class scripted_partition_scan_dialog final : public partition_scan_dialog {
  public:
    std::optional<std::u16string> ask(const std::u16string& text) override {
        shown_with.push_back(text);
        if (answers.empty()) return std::nullopt;
        std::optional<std::u16string> answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<std::optional<std::u16string>> answers;  // nullopt: Close
    std::vector<std::u16string> shown_with;
};

// Each answer is a choice of checks by caption (nothing: keep the rows as shown), or Close.
struct file_type_answer {
    bool close = false;
    std::optional<std::vector<std::u16string>> checked;
};

class scripted_file_type_dialog final : public file_type_dialog {
  public:
    bool choose(std::vector<file_type_row>& rows, const scan_check& check) override {
        shown.push_back(rows);
        while (!answers.empty()) {
            const file_type_answer answer = answers.front();
            answers.pop_front();
            if (answer.close) return false;
            if (answer.checked)
                for (file_type_row& row : rows)
                    row.checked = std::find(answer.checked->begin(), answer.checked->end(), row.caption) !=
                                  answer.checked->end();
            if (check(rows)) return true;
        }
        return false;
    }
    std::deque<file_type_answer> answers;
    std::vector<std::vector<file_type_row>> shown;
};

}  // namespace kvl::platform
