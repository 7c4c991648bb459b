#include "sample_data.hpp"

#include <array>
#include <random>

namespace ziptest {

std::string sampleText(std::size_t size, unsigned seed)
{
    static const std::array<const char*, 16> words = {
        "update",  "package", "version", "archive",   "file",   "the",    "learning", "suite",
        "install", "of",      "and",     "directory", "Tavilo", "record", "server",   "descriptor"};
    std::mt19937 generator(seed);
    std::string text;
    text.reserve(size + 16);
    while (text.size() < size) {
        text += words[generator() % words.size()];
        text += generator() % 11 == 0 ? '\n' : ' ';
    }
    text.resize(size);
    return text;
}

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(generator());
    return bytes;
}

}  // namespace ziptest
