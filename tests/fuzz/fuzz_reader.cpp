// libFuzzer entry point for the archive reader.
#include <cstddef>
#include <cstdint>

#include "fuzz_body.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ziptest::exerciseArchive({data, size});
    return 0;
}
