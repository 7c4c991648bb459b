// Where archive bytes come from and where entry contents go. Reading is by offset, so that one open archive
// can serve any entry in any order without a shared file position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zipcore {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads up to `length` bytes at `offset`; fewer only at the end of the data.
    virtual std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t length) const = 0;
};

// Reads exactly `length` bytes or throws a Corrupt error saying the archive ends too early.
void readExactAt(const ByteSource& source, std::uint64_t offset, void* buffer, std::size_t length);

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(const void* data, std::size_t length) = 0;
};

// Bytes held by the caller, for archives built or fuzzed in memory. The bytes must outlive the source.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t length) const override;

private:
    std::span<const std::uint8_t> bytes_;
};

// Discards what it is given: testing an archive reads every entry without writing anything.
class NullSink final : public ByteSink {
public:
    void write(const void*, std::size_t) override {}
};

class VectorSink final : public ByteSink {
public:
    void write(const void* data, std::size_t length) override;
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace zipcore
