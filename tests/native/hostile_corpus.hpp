// Hostile archives, made here rather than downloaded: each one must be refused without writing anything
// outside the target, without leaving a partial file, and without touching the existing "good.txt" there.
#pragma once

#include <string>
#include <vector>

namespace ziptest {

inline constexpr const char* kGoodName = "good.txt";
inline constexpr const char* kGoodContent = "the good file, present before the extraction";

enum class Refusal {
    BeforeWriting,  // found by checking names or the layout: nothing at all may be written
    WhileWriting,   // found in the data of "good.txt": earlier entries may land, "good.txt" must stay intact
    NotAnArchive,
};

struct HostileArchive {
    std::string label;
    std::string bytes;
    Refusal refusal;
};

// The file names that the hostile names aim at, so that tests can check that none of them appeared.
inline constexpr const char* kEvilName = "zipcore-evil.txt";

std::vector<HostileArchive> hostileArchives();

}  // namespace ziptest
