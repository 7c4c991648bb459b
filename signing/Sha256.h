// SHA-256 through CNG: of bytes in memory, and of a file streamed piece by piece, so that a payload or a package
// far larger than memory should hold is hashed without being loaded.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "Cng.h"

namespace signing {

using Digest = std::array<std::uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    void Add(std::span<const std::uint8_t> bytes);
    Digest Finish();  // once

private:
    UniqueAlgorithm algorithm_;
    UniqueHash hash_;
};

Digest Sha256Of(std::span<const std::uint8_t> bytes);
// A file that cannot be opened or read raises EFileOperationError; a provider that fails, ECngError.
Digest FileSha256(const std::string& path);

// Lower-case hexadecimal, two digits a byte: the form the descriptor's sha256 attribute holds.
std::string Hex(std::span<const std::uint8_t> bytes);

}  // namespace signing
