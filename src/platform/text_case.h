#pragma once

#include <string>
#include <string_view>

// Letter case as the user's language knows it (every script, not only ASCII).
namespace kvl::platform {

std::u16string to_upper(std::u16string_view text);
// Negative, zero or positive, comparing the upper-cased texts unit by unit.
int compare_no_case(std::u16string_view a, std::u16string_view b);

}  // namespace kvl::platform
