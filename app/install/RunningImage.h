// The file this process runs from, known by what it is rather than by its name. A package may carry a new
// Update.exe: the install moves the running one aside (Windows lets a running program be renamed, never deleted or
// replaced), and the name the process was started under then names another file, or none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class RunningImage {
public:
    // Taken at the start of a click, before anything moves, while the name the process started under is still its
    // own. Knows nothing when the file cannot be asked (then it is never recognised).
    static RunningImage OfThisProcess();

    // Whether the file at this absolute path is the one this process runs from.
    bool Is(const std::string& path) const;

private:
    struct Identity {
        std::uint32_t volume;
        std::uint64_t file;
        bool operator==(const Identity& other) const { return volume == other.volume && file == other.file; }
    };
    static std::optional<Identity> IdentityOf(const std::string& path);

    std::optional<Identity> identity_;
};
