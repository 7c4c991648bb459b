// Builds ZIP archives byte by byte, lies included, for the hostile-archive tests, the fuzzer's seeds and the
// library tests on Windows. Nothing here goes through the archive core: the forged bytes are the test input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ziptest {

struct ForgedEntry {
    std::string name;  // the stored bytes of the name
    std::string content;
    bool deflate = true;
    std::uint16_t flags = 0x0800;  // UTF-8 names
    std::uint16_t versionMadeBy = (3 << 8) | 30;

    // Lies written into both headers.
    std::optional<std::uint32_t> crc;
    std::optional<std::uint64_t> uncompressedSize;
    std::optional<std::string> data;  // the compressed bytes as they are, instead of those of `content`

    // Lies of the central directory alone.
    std::optional<std::string> centralName;
    std::optional<std::uint32_t> centralCrc;
    std::optional<std::uint64_t> centralUncompressedSize;
    // No local header and data of its own: the central record points at those of an earlier entry.
    std::optional<std::size_t> sharesLocalHeaderOf;
};

std::string forgeArchive(const std::vector<ForgedEntry>& entries);
std::string deflateRaw(const std::string& content);
std::uint32_t crcOf(const std::string& content);

}  // namespace ziptest
