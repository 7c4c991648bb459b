// Buffered appending to a file, with the two moves an archive writer needs besides: rewriting a header that was
// already written, and cutting the file back to an earlier length.
#pragma once

#include <cstdint>
#include <vector>

#include "zipcore/byte_stream.hpp"
#include "zipcore/file_system.hpp"

namespace zipcore {

class OutputBuffer final : public ByteSink {
public:
    explicit OutputBuffer(File& file, std::uint64_t position = 0, std::size_t capacity = 1 << 18)
        : file_(file), flushed_(position) {
        buffer_.reserve(capacity);
    }

    void write(const void* data, std::size_t length) override;
    std::uint64_t position() const { return flushed_ + buffer_.size(); }
    void flush();
    void overwriteAt(std::uint64_t offset, const void* data, std::size_t length);
    void rewindTo(std::uint64_t offset);

private:
    File& file_;
    std::uint64_t flushed_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace zipcore
