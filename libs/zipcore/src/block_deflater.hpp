// Deflate on several cores. The input is cut into blocks; each block is deflated on its own with the 32 KiB
// before it as the dictionary and ends on a byte boundary (a sync flush), so that the compressed blocks,
// written one after the other, form a single ordinary deflate stream that compresses almost as well as a
// serial one. Memory stays fixed: a few blocks in flight, whatever the size of the input.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "parallel_tasks.hpp"
#include "zipcore/byte_stream.hpp"

namespace zipcore {

struct StreamTotals {
    std::uint64_t uncompressed = 0;
    std::uint64_t compressed = 0;
    std::uint32_t crc = 0;
    bool gaveUp = false;  // the data hardly shrank: deflating stopped early, the output is incomplete
};

// Copies the input unchanged (the stored method), counting and checksumming it.
StreamTotals copyStored(const ByteSource& input, ByteSink& output);

class BlockDeflater {
public:
    // `threads` of 0 or 1 deflate serially on the calling thread.
    BlockDeflater(int level, unsigned threads);
    ~BlockDeflater();
    BlockDeflater(const BlockDeflater&) = delete;
    BlockDeflater& operator=(const BlockDeflater&) = delete;

    // Writes the raw deflate stream of the whole input to `output`. Data that has shrunk by less than 0.1% after
    // the first MiB (already compressed: archives, packed media) is given up on: the caller stores it instead,
    // without deflating the rest for a gain not worth having.
    StreamTotals deflate(const ByteSource& input, ByteSink& output);

private:
    struct Job;
    class Compressor;

    StreamTotals deflateSerially(const ByteSource& input, ByteSink& output);
    StreamTotals deflateInBlocks(const ByteSource& input, ByteSink& output);

    int level_;
    std::vector<std::unique_ptr<Job>> slots_;
    std::unique_ptr<ParallelTasks> tasks_;  // after the slots: the tasks end before the slots they work in go
};

}  // namespace zipcore
