#include "zipcore/byte_stream.hpp"

#include <algorithm>
#include <cstring>

#include "zipcore/error.hpp"

namespace zipcore {

void readExactAt(const ByteSource& source, std::uint64_t offset, void* buffer, std::size_t length) {
    if (source.readAt(offset, buffer, length) != length)
        throw Error(ErrorKind::Corrupt, "the archive ends unexpectedly (truncated?)");
}

std::size_t MemorySource::readAt(std::uint64_t offset, void* buffer, std::size_t length) const {
    if (length == 0 || offset >= bytes_.size()) return 0;
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(length, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, count);
    return count;
}

void VectorSink::write(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    bytes_.insert(bytes_.end(), bytes, bytes + length);
}

}  // namespace zipcore
