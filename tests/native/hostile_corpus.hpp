// Hostile archives, made here rather than downloaded: each one must be refused, as the kind of error it is, without
// writing anything outside the target, without leaving a partial file, and without touching the existing
// "good.txt" there.
#pragma once

#include <string>
#include <vector>

#include "zipcore/error.hpp"

namespace ziptest {

inline constexpr const char* kGoodName = "good.txt";
inline constexpr const char* kGoodContent = "the good file, present before the extraction";

struct HostileArchive {
    std::string label;
    std::string bytes;
    zipcore::ErrorKind kind;  // what the archive core refuses it as: Unsafe, Corrupt or NotZip
    // Extraction follows the archive's order: a sound "first.txt" ahead of the damaged entry is written before the
    // refusal. Otherwise nothing at all is written.
    bool firstLands = false;
};

// The file names that the hostile names aim at, so that tests can check that none of them appeared.
inline constexpr const char* kEvilName = "zipcore-evil.txt";

std::vector<HostileArchive> hostileArchives();

}  // namespace ziptest
