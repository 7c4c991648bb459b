// Writing ZIP archives. The archive grows in a temporary file beside its target and is renamed over the target
// only by finish(): a failed build never leaves a half archive under the final name, and a stale archive of the
// same name is replaced, not added to. Entries are streamed: memory does not grow with file sizes.
#pragma once

#include <memory>
#include <string>

#include "zipcore/byte_stream.hpp"
#include "zipcore/file_system.hpp"

namespace zipcore {

struct WriterOptions {
    int level = -1;           // zlib's compression level; -1 is its default (6), 0 stores every entry
    unsigned threads = 0;     // threads that deflate; 0 means one per processor
    bool forceZip64 = false;  // Zip64 records even where the sizes do not need them
};

class ZipWriter {
public:
    explicit ZipWriter(const std::string& archivePath, WriterOptions options = {});
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Adds the file at `sourcePath` under `entryName` (UTF-8, '/' between components), with its time.
    void addFile(const std::string& sourcePath, const std::string& entryName);
    // Adds the bytes of `content` under `entryName`.
    void addEntry(const std::string& entryName, const ByteSource& content, DosDateTime modified);
    // Writes the central directory and puts the archive in place of its target.
    void finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zipcore
