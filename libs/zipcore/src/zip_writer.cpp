#include "zipcore/zip_writer.hpp"

#include <zlib.h>

#include <set>
#include <vector>

#include "block_deflater.hpp"
#include "output_buffer.hpp"
#include "parallel_tasks.hpp"
#include "zip_format.hpp"
#include "zipcore/entry_name.hpp"
#include "zipcore/error.hpp"
#include "zipcore/name_match.hpp"
#include "zipcore/text.hpp"

namespace zipcore {
namespace {

using namespace format;

// External attributes of a plain file written on Windows: the archive bit.
constexpr std::uint32_t kArchiveAttribute = 0x20;

struct CentralRecord {
    std::string name;
    std::uint16_t method = kMethodDeflated;
    DosDateTime modified;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
    bool localZip64 = false;
};

std::vector<std::uint8_t> localHeader(const CentralRecord& record) {
    RecordBuilder header;
    header.u32(kLocalHeaderSignature)
        .u16(record.localZip64 ? kVersionZip64 : kVersionDefault)
        .u16(kFlagUtf8)
        .u16(record.method)
        .u16(record.modified.time)
        .u16(record.modified.date)
        .u32(record.crc)
        .u32(record.localZip64 ? kMax32 : record.compressedSize)
        .u32(record.localZip64 ? kMax32 : record.uncompressedSize)
        .u16(record.name.size())
        .u16(record.localZip64 ? 20 : 0)
        .bytes(record.name);
    if (record.localZip64) header.u16(kZip64ExtraId).u16(16).u64(record.uncompressedSize).u64(record.compressedSize);
    return header.data();
}

std::vector<std::uint8_t> centralHeader(const CentralRecord& record, bool forceZip64) {
    RecordBuilder zip64;
    const bool bigUncompressed = forceZip64 || record.uncompressedSize >= kMax32;
    const bool bigCompressed = forceZip64 || record.compressedSize >= kMax32;
    const bool bigOffset = forceZip64 || record.localHeaderOffset >= kMax32;
    if (bigUncompressed) zip64.u64(record.uncompressedSize);
    if (bigCompressed) zip64.u64(record.compressedSize);
    if (bigOffset) zip64.u64(record.localHeaderOffset);
    const bool hasZip64 = zip64.size() > 0;

    RecordBuilder header;
    header.u32(kCentralHeaderSignature)
        .u16(kVersionMadeBy)
        .u16(hasZip64 || record.localZip64 ? kVersionZip64 : kVersionDefault)
        .u16(kFlagUtf8)
        .u16(record.method)
        .u16(record.modified.time)
        .u16(record.modified.date)
        .u32(record.crc)
        .u32(bigCompressed ? kMax32 : record.compressedSize)
        .u32(bigUncompressed ? kMax32 : record.uncompressedSize)
        .u16(record.name.size())
        .u16(hasZip64 ? 4 + zip64.size() : 0)
        .u16(0)  // comment
        .u16(0)  // first volume
        .u16(0)  // internal attributes
        .u32(kArchiveAttribute)
        .u32(bigOffset ? kMax32 : record.localHeaderOffset)
        .bytes(record.name);
    if (hasZip64) header.u16(kZip64ExtraId).u16(zip64.size()).append(zip64);
    return header.data();
}

}  // namespace

struct ZipWriter::State {
    State(const std::string& path, WriterOptions writerOptions)
        : archivePath(path),
          options(writerOptions),
          temporary(directoryOf(path)),
          output(temporary.file()),
          deflater(writerOptions.level, threadCount(writerOptions.threads)) {}

    std::string archivePath;
    WriterOptions options;
    TempFile temporary;
    OutputBuffer output;
    BlockDeflater deflater;
    std::vector<CentralRecord> records;
    std::set<std::string> foldedNames;
    bool finished = false;
    bool broken = false;  // an entry failed half-way: the archive cannot be completed

    void checkUsable() const {
        if (finished) throw Error(ErrorKind::Usage, "the archive is already finished");
        if (broken) throw Error(ErrorKind::Usage, "the archive cannot be completed after a failed entry");
    }
};

ZipWriter::ZipWriter(const std::string& archivePath, WriterOptions options)
    : state_(std::make_unique<State>(archivePath, options)) {}

ZipWriter::~ZipWriter() = default;

void ZipWriter::addFile(const std::string& sourcePath, const std::string& entryName) {
    const FileInfo info = fileInfo(sourcePath);
    if (info.exists && !info.isRegularFile)
        throw Error(ErrorKind::Usage, sourcePath + " is not a plain file and cannot be packed");
    const File source = File::openForReading(sourcePath);
    addEntry(entryName, source, info.modified);
}

void ZipWriter::addEntry(const std::string& entryName, const ByteSource& content, DosDateTime modified) {
    State& state = *state_;
    state.checkUsable();
    if (entryName.empty() || entryName.size() > kMax16 || !isValidUtf8(entryName))
        throw Error(ErrorKind::Usage, "\"" + printableName(entryName) + "\" cannot be an entry name");
    // Windows compares names without regard to case: two such names would overwrite each other when extracted.
    if (!state.foldedNames.insert(fileNameKey(entryName)).second)
        throw Error(ErrorKind::Usage, "two files would be stored as \"" + printableName(entryName) + "\"");

    CentralRecord record;
    record.name = entryName;
    record.modified = modified;
    const std::uint64_t expectedSize = content.size();
    record.localZip64 = state.options.forceZip64 || expectedSize >= kMax32;
    record.method = state.options.level == 0 || expectedSize == 0 ? kMethodStored : kMethodDeflated;
    record.localHeaderOffset = state.output.position();
    state.broken = true;  // until the entry is complete
    const std::vector<std::uint8_t> provisionalHeader = localHeader(record);
    state.output.write(provisionalHeader.data(), provisionalHeader.size());
    const std::uint64_t dataOffset = state.output.position();

    StreamTotals totals = record.method == kMethodDeflated ? state.deflater.deflate(content, state.output)
                                                           : copyStored(content, state.output);
    // Data that does not shrink is stored instead, as Info-ZIP does: the deflated bytes are cut off again.
    if (record.method == kMethodDeflated && (totals.gaveUp || totals.compressed >= totals.uncompressed)) {
        state.output.rewindTo(dataOffset);
        record.method = kMethodStored;
        totals = copyStored(content, state.output);
    }
    if (!record.localZip64 && (totals.uncompressed >= kMax32 || totals.compressed >= kMax32))
        throw Error(ErrorKind::Io, "\"" + printableName(entryName) + "\" grew past 4 GiB while it was being packed");
    record.crc = totals.crc;
    record.compressedSize = totals.compressed;
    record.uncompressedSize = totals.uncompressed;
    const std::vector<std::uint8_t> header = localHeader(record);
    state.output.overwriteAt(record.localHeaderOffset, header.data(), header.size());
    state.records.push_back(std::move(record));
    state.broken = false;
}

void ZipWriter::finish() {
    State& state = *state_;
    state.checkUsable();
    state.broken = true;  // a failure below leaves nothing worth finishing again
    OutputBuffer& output = state.output;
    const std::uint64_t directoryOffset = output.position();
    for (const CentralRecord& record : state.records) {
        const std::vector<std::uint8_t> header = centralHeader(record, state.options.forceZip64);
        output.write(header.data(), header.size());
    }
    const std::uint64_t directorySize = output.position() - directoryOffset;
    const std::uint64_t count = state.records.size();
    const bool force = state.options.forceZip64;
    const bool manyEntries = force || count >= kMax16;
    const bool bigSize = force || directorySize >= kMax32;
    const bool bigOffset = force || directoryOffset >= kMax32;

    RecordBuilder end;
    if (manyEntries || bigSize || bigOffset) {
        const std::uint64_t zip64EndOffset = output.position();
        end.u32(kZip64EndSignature)
            .u64(kZip64EndSize - 12)
            .u16(kVersionMadeBy)
            .u16(kVersionZip64)
            .u32(0)
            .u32(0)
            .u64(count)
            .u64(count)
            .u64(directorySize)
            .u64(directoryOffset);
        end.u32(kZip64LocatorSignature).u32(0).u64(zip64EndOffset).u32(1);
    }
    end.u32(kEndOfCentralDirectorySignature)
        .u16(0)
        .u16(0)
        .u16(manyEntries ? kMax16 : count)
        .u16(manyEntries ? kMax16 : count)
        .u32(bigSize ? kMax32 : directorySize)
        .u32(bigOffset ? kMax32 : directoryOffset)
        .u16(0);
    output.write(end.data().data(), end.size());
    output.flush();
    state.temporary.commitAs(state.archivePath);
    state.finished = true;
}

}  // namespace zipcore
