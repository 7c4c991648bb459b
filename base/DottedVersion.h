// Versions as dotted numbers ("1.0.3"), compared part by part as numbers. Where the install must tell an older
// package from a newer one, a version is only such a text: anything else cannot be ordered and is not taken.
#pragma once

#include <compare>
#include <string_view>

// Whether the text is one or more runs of the digits 0-9 joined by single dots, and nothing else.
bool IsDottedVersion(std::string_view text);

// Orders two dotted versions (IsDottedVersion) part by part as numbers of any length: a missing part counts as 0
// and leading zeros do not count, so 1.0 equals 1.0.0 and 01.2 equals 1.2, and 1.10 is above 1.9.
std::strong_ordering CompareDottedVersions(std::string_view a, std::string_view b);
