// What the fuzzer does with each input, shared with the native tests that replay its findings.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "zipcore/error.hpp"

namespace ziptest {

// Opens the bytes as an archive and reads every entry, as an extraction would, without writing files, and goes on
// after each refusal to reach as much of the reader as it can. Returns normally for every input, with the kind of
// each refusal in the order met: refusals are the expected outcome of most inputs.
std::vector<zipcore::ErrorKind> exerciseArchive(std::span<const std::uint8_t> bytes);

}  // namespace ziptest
