#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/base.h"
#include "ntfs/ntfs_tree.h"
#include "scan/scanner.h"

namespace kvl {

// What was worked out for one source and is kept for the program's life: the NTFS folder tree and
// the hits of the four searches.
struct kvl_scan_results {
    ntfs_tree tree;
    std::vector<found_item> ntfs_hits;
    std::vector<found_item> fat_hits;
    std::vector<found_item> low_level_hits;
    std::vector<found_item> partition_hits;
};

// The scan results of every source, by source text (case-sensitive). References stay valid for
// the cache's life.
class scan_results_cache : public base {
  public:
    kvl_scan_results& get(const std::u16string& source) { return entries[source]; }

    std::map<std::u16string, kvl_scan_results> entries;
};

}  // namespace kvl
