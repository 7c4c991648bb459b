#include "DottedVersion.h"

#include <algorithm>

namespace {

// The part before the next dot, and what follows that dot; an exhausted version gives "0" parts for ever.
std::string_view TakePart(std::string_view& rest)
{
    const size_t dot = std::min(rest.find('.'), rest.size());
    const std::string_view part = rest.substr(0, dot);
    rest = rest.substr(std::min(dot + 1, rest.size()));
    return part;
}

// The parts are compared as digit strings rather than parsed: no number is too long to compare.
std::strong_ordering CompareParts(std::string_view a, std::string_view b)
{
    a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
    b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
    if (a.size() != b.size()) return a.size() <=> b.size();
    return a.compare(b) <=> 0;
}

}  // namespace

bool IsDottedVersion(std::string_view text)
{
    bool partStarted = false;
    for (const char c : text) {
        if (c == '.') {
            if (!partStarted) return false;
            partStarted = false;
        } else if (c >= '0' && c <= '9') {
            partStarted = true;
        } else {
            return false;
        }
    }
    return partStarted;
}

std::strong_ordering CompareDottedVersions(std::string_view a, std::string_view b)
{
    while (!a.empty() || !b.empty()) {
        const auto order = CompareParts(TakePart(a), TakePart(b));
        if (order != 0) return order;
    }
    return std::strong_ordering::equal;
}
