#include "fuzz_body.hpp"

#include <memory>

#include "zipcore/byte_stream.hpp"
#include "zipcore/entry_name.hpp"
#include "zipcore/error.hpp"
#include "zipcore/name_match.hpp"
#include "zipcore/zip_reader.hpp"

namespace ziptest {

// Small inputs can declare gigabytes that inflate at 1000:1; reading those is slow, not interesting.
constexpr std::uint64_t kLargestEntryRead = 16u << 20;

std::vector<zipcore::ErrorKind> exerciseArchive(std::span<const std::uint8_t> bytes)
{
    std::vector<zipcore::ErrorKind> refusals;
    try {
        const zipcore::ZipReader reader(std::make_unique<zipcore::MemorySource>(bytes));
        zipcore::NullSink discard;
        for (const zipcore::Entry& entry : reader.entries()) {
            zipcore::fileNameKey(entry.name);
            try {
                zipcore::safeFlatName(entry.name);
            } catch (const zipcore::Error& error) {
                refusals.push_back(error.kind());
            }
            if (entry.uncompressedSize > kLargestEntryRead) continue;
            try {
                reader.read(entry, discard);
            } catch (const zipcore::Error& error) {
                refusals.push_back(error.kind());
            }
        }
    } catch (const zipcore::Error& error) {
        refusals.push_back(error.kind());
    }
    return refusals;
}

}  // namespace ziptest
