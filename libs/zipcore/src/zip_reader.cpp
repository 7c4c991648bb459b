#include "zipcore/zip_reader.hpp"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "zip_format.hpp"
#include "zipcore/entry_name.hpp"
#include "zipcore/error.hpp"

namespace zipcore {
namespace {

using namespace format;

struct EndRecord {
    std::uint64_t entryCount = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;
};

[[noreturn]] void corrupt(const std::string& message) { throw Error(ErrorKind::Corrupt, message); }

std::string quoted(const std::string& name) {
    std::string text(1, '"');
    text += printableName(name);
    text += '"';
    return text;
}

// A field of the classic end record says "see the Zip64 record" or holds the value, which some writers cut
// to the field's width.
void checkAgrees(std::uint64_t classic, std::uint64_t marker, std::uint64_t zip64Value) {
    if (classic != marker && classic != (zip64Value & marker)) corrupt("the end records of the archive disagree");
}

EndRecord readZip64End(const ByteSource& source, std::uint64_t endOffset, const std::uint8_t* classic) {
    std::array<std::uint8_t, kZip64LocatorSize> locator{};
    readExactAt(source, endOffset - kZip64LocatorSize, locator.data(), locator.size());
    const std::uint64_t recordOffset = get64(&locator[8]);
    if (get32(&locator[4]) != 0 || get32(&locator[16]) > 1)
        throw Error(ErrorKind::Unsupported, "archives spread over several volumes are not supported");
    if (recordOffset > endOffset - kZip64LocatorSize - kZip64EndSize)
        corrupt("the Zip64 end record lies outside the archive");

    std::array<std::uint8_t, kZip64EndSize> record{};
    readExactAt(source, recordOffset, record.data(), record.size());
    if (get32(&record[0]) != kZip64EndSignature) corrupt("the Zip64 end record is missing");
    if (get64(&record[4]) != endOffset - kZip64LocatorSize - recordOffset - 12)
        corrupt("the Zip64 end record has a wrong size");
    if (get32(&record[16]) != 0 || get32(&record[20]) != 0 || get64(&record[24]) != get64(&record[32]))
        throw Error(ErrorKind::Unsupported, "archives spread over several volumes are not supported");

    EndRecord end;
    end.entryCount = get64(&record[32]);
    end.directorySize = get64(&record[40]);
    end.directoryOffset = get64(&record[48]);
    checkAgrees(get16(classic + 10), kMax16, end.entryCount);
    checkAgrees(get32(classic + 12), kMax32, end.directorySize);
    checkAgrees(get32(classic + 16), kMax32, end.directoryOffset);
    if (end.directoryOffset > recordOffset || end.directorySize != recordOffset - end.directoryOffset)
        corrupt("the central directory is not where the end record says");
    return end;
}

EndRecord readEnd(const ByteSource& source) {
    const std::uint64_t size = source.size();
    if (size < kEndOfCentralDirectorySize) throw Error(ErrorKind::NotZip, "the file is too small to be a ZIP archive");
    const std::size_t tailLength =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, kEndOfCentralDirectorySize + kMaxCommentLength));
    std::vector<std::uint8_t> tail(tailLength);
    readExactAt(source, size - tailLength, tail.data(), tailLength);

    // The end record is followed only by its comment; search backwards for the last one that fits.
    std::optional<std::size_t> found;
    for (std::size_t at = tailLength - kEndOfCentralDirectorySize + 1; at-- > 0;) {
        if (get32(&tail[at]) == kEndOfCentralDirectorySignature &&
            at + kEndOfCentralDirectorySize + get16(&tail[at + 20]) <= tailLength) {
            found = at;
            break;
        }
    }
    if (!found) throw Error(ErrorKind::NotZip, "no end of central directory record: the file is not a ZIP archive");
    const std::uint8_t* classic = &tail[*found];
    const std::uint64_t endOffset = size - tailLength + *found;

    std::array<std::uint8_t, 4> locatorSignature{};
    if (endOffset >= kZip64LocatorSize + kZip64EndSize) {
        readExactAt(source, endOffset - kZip64LocatorSize, locatorSignature.data(), 4);
        if (get32(locatorSignature.data()) == kZip64LocatorSignature) return readZip64End(source, endOffset, classic);
    }
    if (get16(classic + 4) != 0 || get16(classic + 6) != 0 || get16(classic + 8) != get16(classic + 10))
        throw Error(ErrorKind::Unsupported, "archives spread over several volumes are not supported");
    EndRecord end;
    end.entryCount = get16(classic + 10);
    end.directorySize = get32(classic + 12);
    end.directoryOffset = get32(classic + 16);
    if (end.directoryOffset > endOffset || end.directorySize != endOffset - end.directoryOffset)
        corrupt("the central directory is not where the end record says");
    return end;
}

// Reads a region of the archive front to back through a buffer large enough for one whole record.
class RegionReader {
public:
    RegionReader(const ByteSource& source, std::uint64_t begin, std::uint64_t end)
        : source_(source), position_(begin), end_(end), buffer_(kCapacity) {}

    const std::uint8_t* take(std::size_t length) {
        if (length > end_ - position_ + (filled_ - used_)) corrupt("the central directory is truncated");
        if (filled_ - used_ < length) {
            std::memmove(buffer_.data(), buffer_.data() + used_, filled_ - used_);
            filled_ -= used_;
            used_ = 0;
            const std::size_t wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(kCapacity - filled_, end_ - position_));
            readExactAt(source_, position_, buffer_.data() + filled_, wanted);
            position_ += wanted;
            filled_ += wanted;
        }
        const std::uint8_t* result = buffer_.data() + used_;
        used_ += length;
        return result;
    }
    bool atEnd() const { return position_ == end_ && used_ == filled_; }

private:
    static constexpr std::size_t kCapacity = 1 << 18;  // more than a header with the longest name, extra, comment
    const ByteSource& source_;
    std::uint64_t position_;
    std::uint64_t end_;
    std::vector<std::uint8_t> buffer_;
    std::size_t filled_ = 0;
    std::size_t used_ = 0;
};

// Walks the extra fields of a header, calling `visit(id, data, length)` for each.
template <typename Visit>
void forEachExtraField(const std::uint8_t* extra, std::size_t length, Visit visit) {
    std::size_t at = 0;
    while (at + 4 <= length) {
        const std::uint16_t id = get16(extra + at);
        const std::uint16_t size = get16(extra + at + 2);
        if (at + 4 + size > length) break;  // a torn last field carries nothing we use
        visit(id, extra + at + 4, size);
        at += 4 + size;
    }
}

// Fills in the values that a header marked as "in the Zip64 extra field". The central directory lists only
// the marked values, in a fixed order; a local header carries both sizes whenever it has the field at all.
void applyZip64Extra(const std::uint8_t* extra, std::size_t extraLength, std::uint64_t* values[],
                     std::size_t valueCount, bool everySlotPresent, const std::string& name) {
    bool anyMarked = false;
    for (std::size_t i = 0; i < valueCount; ++i) anyMarked = anyMarked || *values[i] == kMax32;
    if (!anyMarked) return;
    bool applied = false;
    forEachExtraField(extra, extraLength, [&](std::uint16_t id, const std::uint8_t* data, std::size_t length) {
        if (id != kZip64ExtraId || applied) return;
        std::size_t at = 0;
        for (std::size_t i = 0; i < valueCount; ++i) {
            if (everySlotPresent) at = 8 * i;
            if (*values[i] != kMax32) continue;
            if (at + 8 > length) corrupt("the Zip64 field of " + quoted(name) + " is too short");
            *values[i] = get64(data + at);
            at += 8;
        }
        applied = true;
    });
    if (!applied) corrupt("the Zip64 field of " + quoted(name) + " is missing");
}

// A name from the Unicode path field, which older Windows tools add beside a name in the OEM code page; it is
// trusted only while it still belongs to the stored name (the field carries that name's CRC).
std::optional<std::string> unicodePathName(const std::uint8_t* extra, std::size_t extraLength,
                                           std::string_view rawName) {
    std::optional<std::string> result;
    forEachExtraField(extra, extraLength, [&](std::uint16_t id, const std::uint8_t* data, std::size_t length) {
        if (id != kUnicodePathExtraId || length < 5 || data[0] != 1) return;
        const auto nameCrc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(rawName.data()), static_cast<uInt>(rawName.size())));
        if (get32(data + 1) != nameCrc) return;
        result = std::string(reinterpret_cast<const char*>(data + 5), length - 5);
    });
    return result;
}

struct ParsedDirectory {
    std::vector<Entry> entries;
    std::vector<std::string> rawNames;  // as stored, to compare with the local headers
};

ParsedDirectory readCentralDirectory(const ByteSource& source, const EndRecord& end) {
    // Every header takes at least 46 bytes: a count beyond that is a lie, and must not size any allocation.
    if (end.entryCount > end.directorySize / kCentralHeaderSize) corrupt("the end record claims too many entries");
    ParsedDirectory parsed;
    parsed.entries.reserve(static_cast<std::size_t>(end.entryCount));
    RegionReader reader(source, end.directoryOffset, end.directoryOffset + end.directorySize);
    for (std::uint64_t index = 0; index < end.entryCount; ++index) {
        const std::uint8_t* header = reader.take(kCentralHeaderSize);
        if (get32(header) != kCentralHeaderSignature) corrupt("the central directory is damaged");
        const std::uint16_t madeBy = get16(header + 4);
        Entry entry;
        entry.flags = get16(header + 8);
        entry.method = get16(header + 10);
        entry.modified = {get16(header + 14), get16(header + 12)};
        entry.crc32 = get32(header + 16);
        entry.compressedSize = get32(header + 20);
        entry.uncompressedSize = get32(header + 24);
        const std::uint16_t nameLength = get16(header + 28);
        const std::uint16_t extraLength = get16(header + 30);
        const std::uint16_t commentLength = get16(header + 32);
        std::uint64_t firstDisk = get16(header + 34);
        entry.localHeaderOffset = get32(header + 42);

        const std::uint8_t* nameBytes = reader.take(nameLength);
        std::string rawName(reinterpret_cast<const char*>(nameBytes), nameLength);
        const std::uint8_t* extra = reader.take(extraLength);
        const auto unicodeName = unicodePathName(extra, extraLength, rawName);
        entry.name =
            unicodeName && (entry.flags & kFlagUtf8) == 0
                ? decodeEntryName(*unicodeName, true, 0)
                : decodeEntryName(rawName, (entry.flags & kFlagUtf8) != 0, static_cast<std::uint8_t>(madeBy >> 8));
        std::uint64_t* sizes[] = {&entry.uncompressedSize, &entry.compressedSize, &entry.localHeaderOffset};
        applyZip64Extra(extra, extraLength, sizes, 3, false, entry.name);
        if (firstDisk == kMax16) firstDisk = 0;  // its Zip64 value would follow the offset; one volume only
        reader.take(commentLength);

        if (firstDisk != 0)
            throw Error(ErrorKind::Unsupported, "archives spread over several volumes are not supported");
        if (entry.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedHeaders))
            throw Error(ErrorKind::Unsupported, "the entry " + quoted(entry.name) + " is encrypted");
        if (entry.method != kMethodStored && entry.method != kMethodDeflated)
            throw Error(ErrorKind::Unsupported, "the entry " + quoted(entry.name) + " uses compression method " +
                                                    std::to_string(entry.method) + ", not stored or deflated");
        if (entry.method == kMethodStored && entry.compressedSize != entry.uncompressedSize)
            corrupt("the sizes of the stored entry " + quoted(entry.name) + " disagree");
        parsed.entries.push_back(std::move(entry));
        parsed.rawNames.push_back(std::move(rawName));
    }
    if (!reader.atEnd()) corrupt("the central directory holds more than the end record says");
    return parsed;
}

struct Span {
    std::uint64_t begin;
    std::uint64_t end;
};

// The length of the data descriptor after an entry's data, in whichever of its four forms agrees with the
// central directory; the entry is refused when none does.
std::uint64_t dataDescriptorLength(const ByteSource& source, const Entry& entry, std::uint64_t at,
                                   std::uint64_t limit) {
    std::array<std::uint8_t, 24> bytes{};
    const std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), limit - at));
    readExactAt(source, at, bytes.data(), available);
    for (const bool signature : {true, false}) {
        for (const bool wide : {false, true}) {
            const std::size_t skip = signature ? 4 : 0;
            const std::size_t length = skip + 4 + (wide ? 16 : 8);
            if (length > available) continue;
            if (signature && get32(bytes.data()) != kDataDescriptorSignature) continue;
            const std::uint8_t* p = bytes.data() + skip;
            const std::uint64_t compressed = wide ? get64(p + 4) : get32(p + 4);
            const std::uint64_t uncompressed = wide ? get64(p + 12) : get32(p + 8);
            if (get32(p) == entry.crc32 && compressed == entry.compressedSize && uncompressed == entry.uncompressedSize)
                return length;
        }
    }
    corrupt("the data descriptor of " + quoted(entry.name) + " disagrees with the central directory");
}

// Reads the local header of an entry, checks it against the central directory, and returns the part of the
// archive the entry occupies, from its local header to the end of its data (and data descriptor).
Span checkLocalHeader(const ByteSource& source, Entry& entry, const std::string& rawName, std::uint64_t limit) {
    const std::string where = "the local header of " + quoted(entry.name);
    if (entry.localHeaderOffset > limit || limit - entry.localHeaderOffset < kLocalHeaderSize)
        corrupt(where + " lies outside the archive");
    std::array<std::uint8_t, kLocalHeaderSize> header{};
    readExactAt(source, entry.localHeaderOffset, header.data(), header.size());
    if (get32(header.data()) != kLocalHeaderSignature) corrupt(where + " is missing");
    const std::uint16_t flags = get16(&header[6]);
    const std::uint16_t nameLength = get16(&header[26]);
    const std::uint16_t extraLength = get16(&header[28]);
    entry.dataOffset = entry.localHeaderOffset + kLocalHeaderSize + nameLength + extraLength;
    if (entry.dataOffset > limit) corrupt(where + " runs past the entries");

    std::vector<std::uint8_t> variable(nameLength + extraLength);
    readExactAt(source, entry.localHeaderOffset + kLocalHeaderSize, variable.data(), variable.size());
    if (std::string_view(reinterpret_cast<const char*>(variable.data()), nameLength) != rawName)
        corrupt(where + " names another file");
    if (get16(&header[8]) != entry.method) corrupt(where + " gives another compression method");
    const bool hasDescriptor = (flags & kFlagDataDescriptor) != 0;
    if (hasDescriptor != ((entry.flags & kFlagDataDescriptor) != 0)) corrupt(where + " disagrees on its flags");

    std::uint64_t compressed = get32(&header[18]);
    std::uint64_t uncompressed = get32(&header[22]);
    std::uint64_t* sizes[] = {&uncompressed, &compressed};
    applyZip64Extra(variable.data() + nameLength, extraLength, sizes, 2, true, entry.name);
    const std::uint32_t crc = get32(&header[14]);
    // With a data descriptor, the local header may leave CRC and sizes zero: the descriptor carries them.
    const bool zeroed = hasDescriptor && crc == 0 && compressed == 0 && uncompressed == 0;
    if (!zeroed && (crc != entry.crc32 || compressed != entry.compressedSize || uncompressed != entry.uncompressedSize))
        corrupt("the central directory disagrees with " + where);

    if (entry.compressedSize > limit - entry.dataOffset)
        corrupt("the data of " + quoted(entry.name) + " runs past the entries");
    std::uint64_t end = entry.dataOffset + entry.compressedSize;
    if (hasDescriptor) end += dataDescriptorLength(source, entry, end, limit);
    return {entry.localHeaderOffset, end};
}

// Every entry must own its bytes: two entries sharing data (the overlapping-entry "zip bomb") are refused.
void checkNoOverlap(std::vector<Span>& spans) {
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (spans[i].begin < spans[i - 1].end) corrupt("entries of the archive overlap");
}

class InflateStream {
public:
    InflateStream() {
        if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) throw Error(ErrorKind::Io, "cannot start zlib's inflate");
    }
    ~InflateStream() { inflateEnd(&stream_); }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
    z_stream* operator->() { return &stream_; }
    z_stream* get() { return &stream_; }

private:
    z_stream stream_{};
};

constexpr std::size_t kInputChunk = 1 << 16;
constexpr std::size_t kOutputChunk = 1 << 18;

}  // namespace

ZipReader::ZipReader(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {
    const EndRecord end = readEnd(*source_);
    ParsedDirectory parsed = readCentralDirectory(*source_, end);
    std::vector<Span> spans;
    spans.reserve(parsed.entries.size());
    for (std::size_t i = 0; i < parsed.entries.size(); ++i)
        spans.push_back(checkLocalHeader(*source_, parsed.entries[i], parsed.rawNames[i], end.directoryOffset));
    checkNoOverlap(spans);
    entries_ = std::move(parsed.entries);
}

ZipReader ZipReader::open(const std::string& path) {
    return ZipReader(std::make_unique<File>(File::openForReading(path)));
}

void ZipReader::read(const Entry& entry, ByteSink& sink) const {
    std::vector<std::uint8_t> input(entry.method == format::kMethodStored ? kOutputChunk : kInputChunk);
    std::uint64_t position = entry.dataOffset;
    std::uint64_t remaining = entry.compressedSize;
    std::uint64_t produced = 0;
    uLong crc = crc32(0, nullptr, 0);

    if (entry.method == format::kMethodStored) {
        while (remaining > 0) {
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(input.size(), remaining));
            readExactAt(*source_, position, input.data(), chunk);
            crc = crc32(crc, input.data(), static_cast<uInt>(chunk));
            sink.write(input.data(), chunk);
            position += chunk;
            remaining -= chunk;
        }
        produced = entry.compressedSize;
    } else {
        std::vector<std::uint8_t> output(kOutputChunk);
        InflateStream stream;
        for (;;) {
            if (stream->avail_in == 0 && remaining > 0) {
                const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(input.size(), remaining));
                readExactAt(*source_, position, input.data(), chunk);
                position += chunk;
                remaining -= chunk;
                stream->next_in = input.data();
                stream->avail_in = static_cast<uInt>(chunk);
            }
            stream->next_out = output.data();
            stream->avail_out = static_cast<uInt>(output.size());
            const int status = inflate(stream.get(), Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                corrupt("the compressed data of " + quoted(entry.name) + " is damaged" +
                        (stream->msg ? std::string(" (") + stream->msg + ")" : std::string()));
            const std::size_t count = output.size() - stream->avail_out;
            if (count > entry.uncompressedSize - produced)
                corrupt("the entry " + quoted(entry.name) + " inflates past its declared size");
            crc = crc32(crc, output.data(), static_cast<uInt>(count));
            sink.write(output.data(), count);
            produced += count;
            if (status == Z_STREAM_END) break;
            if (status == Z_BUF_ERROR && stream->avail_in == 0 && remaining == 0)
                corrupt("the compressed data of " + quoted(entry.name) + " ends too early");
        }
        if (stream->avail_in != 0 || remaining != 0)
            corrupt("the compressed data of " + quoted(entry.name) + " is shorter than its declared size");
    }
    if (produced != entry.uncompressedSize)
        corrupt("the entry " + quoted(entry.name) + " is shorter than its declared size");
    if (static_cast<std::uint32_t>(crc) != entry.crc32) corrupt("CRC error in " + quoted(entry.name));
}

}  // namespace zipcore
