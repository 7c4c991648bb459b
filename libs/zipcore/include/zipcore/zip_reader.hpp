// Reading ZIP archives that arrive from outside. Opening an archive reads its central directory and checks
// the whole layout against the local headers before any entry is read, so that a damaged or hostile archive is
// refused before anything is written. Entry contents are streamed: memory does not grow with entry sizes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zipcore/byte_stream.hpp"
#include "zipcore/file_system.hpp"

namespace zipcore {

struct Entry {
    std::string name;  // UTF-8, as stored: it may still hold directory parts
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
    std::uint64_t dataOffset = 0;  // first byte of the compressed data, found through the local header
    std::uint32_t crc32 = 0;
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    DosDateTime modified;

    bool isDirectory() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
};

class ZipReader {
public:
    // Reads and checks the archive's layout; throws Error when it is not a sound ZIP archive.
    explicit ZipReader(std::unique_ptr<ByteSource> source);
    static ZipReader open(const std::string& path);

    const std::vector<Entry>& entries() const { return entries_; }

    // Streams one entry's content into `sink`, checking it against the declared size and CRC on the way: an
    // entry that inflates past its declared size is stopped before the excess reaches the sink. Safe to call
    // for different entries from several threads at once.
    void read(const Entry& entry, ByteSink& sink) const;

private:
    std::unique_ptr<ByteSource> source_;
    std::vector<Entry> entries_;
};

}  // namespace zipcore
