// What the fuzzer does with each input, shared with the native tests that replay its findings.
#pragma once

#include <cstdint>
#include <span>

namespace ziptest {

// Opens the bytes as an archive and reads every entry, as an extraction would, without writing files.
// Returns normally for every input: refusals are the expected outcome of most of them.
void exerciseArchive(std::span<const std::uint8_t> bytes);

}  // namespace ziptest
