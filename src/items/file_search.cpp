#include "items/file_search.h"

#include "core/text.h"
#include "platform/text_case.h"

namespace kvl {

bool mask_matches(const std::u16string& name_text, const std::u16string& mask_text) {
    const std::u16string name = platform::to_upper(name_text);
    const std::u16string mask = platform::to_upper(mask_text);
    // Past the end of the name stands a NUL, which equals no mask character.
    const auto at = [&](size_t i) { return i < name.size() ? name[i] : u'\0'; };
    size_t i = 0;
    size_t j = 0;
    while (j < mask.size()) {
        if (mask[j] == u'*') {
            if (j + 1 == mask.size()) return true;
            if (mask[j + 1] == at(i))
                ++j;
            else if (i + 1 < name.size())
                ++i;
            else
                return false;
        } else if (mask[j] == u'?') {
            ++i;
            ++j;
        } else if (mask[j] == at(i)) {
            ++i;
            ++j;
        } else {
            return false;
        }
    }
    return true;
}

bool size_matches(int64_t bytes, const search_params& criteria) {
    return criteria.comparison == 1 ? bytes > criteria.limit() : bytes <= criteria.limit();
}

std::u16string describe_search(const search_params& criteria) {
    if (criteria.use_mask && !criteria.use_size && criteria.mask == u"*") return u"Searching for all files";
    std::u16string text = u"Search for files with ";
    if (criteria.use_mask) text += u"mask: " + criteria.mask + u" ";
    if (criteria.use_size && criteria.comparison == 1) text += u"size more than " + decimal(criteria.size);
    return text;
}

}  // namespace kvl
