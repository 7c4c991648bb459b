// File contents for the archive tests, the same on every platform: text compresses well, random bytes not at all.
#pragma once

#include <cstddef>
#include <string>

namespace ziptest {

std::string sampleText(std::size_t size, unsigned seed = 1);
std::string randomBytes(std::size_t size, unsigned seed = 1);

}  // namespace ziptest
