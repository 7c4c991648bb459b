// The upper-case table behind file-name comparison, generated from the Unicode Character Database by
// tools/make_upper_case_table.py: see that script for what it holds and leaves out.
#pragma once

#include <span>

namespace zipcore {

struct UpperCaseMapping {
    char16_t from;
    char16_t upper;
};

// Sorted by `from`; a character not listed is its own upper case.
std::span<const UpperCaseMapping> upperCaseMappings();

}  // namespace zipcore
