#include "output_buffer.hpp"

namespace zipcore {

void OutputBuffer::write(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (buffer_.size() + length > buffer_.capacity()) flush();
    if (length >= buffer_.capacity()) {
        file_.writeAt(flushed_, bytes, length);
        flushed_ += length;
        return;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + length);
}

void OutputBuffer::flush() {
    if (buffer_.empty()) return;
    file_.writeAt(flushed_, buffer_.data(), buffer_.size());
    flushed_ += buffer_.size();
    buffer_.clear();
}

void OutputBuffer::overwriteAt(std::uint64_t offset, const void* data, std::size_t length) {
    flush();
    file_.writeAt(offset, data, length);
}

void OutputBuffer::rewindTo(std::uint64_t offset) {
    flush();
    file_.truncate(offset);
    flushed_ = offset;
}

}  // namespace zipcore
