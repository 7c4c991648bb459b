#include "zip_forge.hpp"

#include <zlib.h>

#include <stdexcept>

namespace ziptest {
namespace {

void put(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

struct Placed {
    std::uint64_t offset;
    std::string data;
    std::uint32_t crc;
    std::uint64_t size;
};

}  // namespace

std::string deflateRaw(const std::string& content)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&stream, content.size()) + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(out.size() - stream.avail_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

std::uint32_t crcOf(const std::string& content)
{
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
}

std::string forgeArchive(const std::vector<ForgedEntry>& entries)
{
    std::string archive;
    std::vector<Placed> placed;
    for (const ForgedEntry& entry : entries) {
        if (entry.sharesLocalHeaderOf) {
            placed.push_back(placed.at(*entry.sharesLocalHeaderOf));
            continue;
        }
        Placed local{archive.size(),
                     entry.data      ? *entry.data
                     : entry.deflate ? deflateRaw(entry.content)
                                     : entry.content,
                     entry.crc.value_or(crcOf(entry.content)), entry.uncompressedSize.value_or(entry.content.size())};
        put(archive, 0x04034b50, 4);
        put(archive, 20, 2);
        put(archive, entry.flags, 2);
        put(archive, entry.deflate ? 8 : 0, 2);
        put(archive, 0, 2);
        put(archive, (1 << 5) | 1, 2);
        put(archive, local.crc, 4);
        const bool zip64 = local.size >= 0xFFFFFFFF;
        put(archive, zip64 ? 0xFFFFFFFF : local.data.size(), 4);
        put(archive, zip64 ? 0xFFFFFFFF : local.size, 4);
        put(archive, entry.name.size(), 2);
        put(archive, zip64 ? 20 : 0, 2);
        archive += entry.name;
        if (zip64) {
            put(archive, 1, 2);
            put(archive, 16, 2);
            put(archive, local.size, 8);
            put(archive, local.data.size(), 8);
        }
        archive += local.data;
        placed.push_back(local);
    }
    const std::uint64_t directoryOffset = archive.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ForgedEntry& entry = entries[i];
        const Placed& local = placed[i];
        const std::string name = entry.centralName.value_or(entry.name);
        put(archive, 0x02014b50, 4);
        put(archive, entry.versionMadeBy, 2);
        put(archive, 20, 2);
        put(archive, entry.flags, 2);
        put(archive, entry.deflate ? 8 : 0, 2);
        put(archive, 0, 2);
        put(archive, (1 << 5) | 1, 2);
        put(archive, entry.centralCrc.value_or(local.crc), 4);
        put(archive, local.data.size(), 4);
        const std::uint64_t size = entry.centralUncompressedSize.value_or(local.size);
        const bool zip64 = size >= 0xFFFFFFFF;
        put(archive, zip64 ? 0xFFFFFFFF : size, 4);
        put(archive, name.size(), 2);
        put(archive, zip64 ? 12 : 0, 2);
        put(archive, 0, 2);
        put(archive, 0, 2);
        put(archive, 0, 2);
        put(archive, 0, 4);
        put(archive, local.offset, 4);
        archive += name;
        if (zip64) {
            put(archive, 1, 2);
            put(archive, 8, 2);
            put(archive, size, 8);
        }
    }
    const std::uint64_t directorySize = archive.size() - directoryOffset;
    put(archive, 0x06054b50, 4);
    put(archive, 0, 4);
    put(archive, entries.size(), 2);
    put(archive, entries.size(), 2);
    put(archive, directorySize, 4);
    put(archive, directoryOffset, 4);
    put(archive, 0, 2);
    return archive;
}

}  // namespace ziptest
