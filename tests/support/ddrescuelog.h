#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

// GNU ddrescue's map tool, run on maps this program writes, to show that the other tool reads them.
namespace kvl::test {

bool have_ddrescuelog();
// Runs ddrescuelog with these arguments; its output, or nothing when it did not exit with 0.
std::optional<std::string> ddrescuelog(const std::string& arguments, const std::filesystem::path& scratch);
// The bytes and areas `ddrescuelog -t` shows for one kind of area ("bad-sector:  1536 B,  in  2 area(s)").
std::optional<std::pair<int64_t, int>> ddrescuelog_total(const std::string& shown, const std::string& label);

}  // namespace kvl::test
