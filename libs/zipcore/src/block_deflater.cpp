#include "block_deflater.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "zipcore/error.hpp"

namespace zipcore {
namespace {

constexpr std::size_t kBlockSize = 1 << 17;
constexpr std::size_t kDictionarySize = 1 << 15;  // deflate's window
constexpr std::size_t kSerialChunk = 1 << 18;
constexpr std::uint64_t kProbeSize = 1 << 20;

// True once the probe has shown that deflate gains next to nothing (under 0.1%, as on gzip or random data).
// `slack` allows for output bits that zlib still holds back.
bool notShrinking(std::uint64_t input, std::uint64_t output, std::uint64_t slack) {
    return input >= kProbeSize && (output + slack) * 1000 >= input * 999;
}

}  // namespace

// One zlib deflate stream, kept for the life of its slot and reset for each block.
class BlockDeflater::Compressor {
public:
    explicit Compressor(int level) {
        if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw Error(ErrorKind::Io, "cannot start zlib's deflate");
    }
    ~Compressor() { deflateEnd(&stream_); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    z_stream* get() { return &stream_; }

private:
    z_stream stream_{};
};

// A block in flight, with everything its task needs allocated beforehand: the task only calls zlib.
struct BlockDeflater::Job {
    explicit Job(int level)
        : compressor(level),
          input(kDictionarySize + kBlockSize),
          // A sync flush adds at most an empty stored block to what deflate's bound allows for.
          output(deflateBound(compressor.get(), kBlockSize) + 64) {}

    Compressor compressor;
    std::vector<std::uint8_t> input;
    std::size_t dictionaryLength = 0;
    std::size_t length = 0;
    bool last = false;
    std::vector<std::uint8_t> output;
    std::size_t outputLength = 0;
    std::uint32_t crc = 0;
    bool failed = false;

    void run() noexcept {
        z_stream* stream = compressor.get();
        failed = deflateReset(stream) != Z_OK ||
                 (dictionaryLength > 0 &&
                  deflateSetDictionary(stream, input.data(), static_cast<uInt>(dictionaryLength)) != Z_OK);
        if (failed) return;
        stream->next_in = input.data() + dictionaryLength;
        stream->avail_in = static_cast<uInt>(length);
        stream->next_out = output.data();
        stream->avail_out = static_cast<uInt>(output.size());
        // A sync flush ends the block on a byte boundary with an empty stored block, so the next block's
        // bytes can follow directly; only the last block closes the stream.
        const int status = ::deflate(stream, last ? Z_FINISH : Z_SYNC_FLUSH);
        failed = last ? status != Z_STREAM_END : (status != Z_OK || stream->avail_in != 0 || stream->avail_out == 0);
        outputLength = output.size() - stream->avail_out;
        crc = static_cast<std::uint32_t>(crc32(0, input.data() + dictionaryLength, static_cast<uInt>(length)));
    }
};

StreamTotals copyStored(const ByteSource& input, ByteSink& output) {
    std::vector<std::uint8_t> buffer(kSerialChunk);
    StreamTotals totals;
    uLong crc = crc32(0, nullptr, 0);
    for (;;) {
        const std::size_t got = input.readAt(totals.uncompressed, buffer.data(), buffer.size());
        if (got == 0) break;
        crc = crc32(crc, buffer.data(), static_cast<uInt>(got));
        output.write(buffer.data(), got);
        totals.uncompressed += got;
    }
    totals.compressed = totals.uncompressed;
    totals.crc = static_cast<std::uint32_t>(crc);
    return totals;
}

BlockDeflater::BlockDeflater(int level, unsigned threads) : level_(level) {
    if (threads <= 1) return;
    // Two blocks per thread: one being deflated while the next waits ready, so no core idles while the calling
    // thread reads input and writes output.
    for (unsigned i = 0; i < 2 * threads; ++i) slots_.push_back(std::make_unique<Job>(level_));
    tasks_ = std::make_unique<ParallelTasks>(slots_.size(), [this](std::size_t index) { slots_[index]->run(); });
}

BlockDeflater::~BlockDeflater() = default;

StreamTotals BlockDeflater::deflate(const ByteSource& input, ByteSink& output) {
    return tasks_ ? deflateInBlocks(input, output) : deflateSerially(input, output);
}

StreamTotals BlockDeflater::deflateSerially(const ByteSource& input, ByteSink& output) {
    Compressor compressor(level_);
    z_stream* stream = compressor.get();
    std::vector<std::uint8_t> in(kSerialChunk);
    std::vector<std::uint8_t> out(kSerialChunk);
    StreamTotals totals;
    uLong crc = crc32(0, nullptr, 0);
    bool probed = false;
    bool finished = false;
    while (!finished) {
        const std::size_t got = input.readAt(totals.uncompressed, in.data(), in.size());
        crc = crc32(crc, in.data(), static_cast<uInt>(got));
        totals.uncompressed += got;
        const bool last = got < in.size();
        // At the probe, the open deflate block is closed so that the output counted so far covers all input.
        const bool probeNow = !last && !probed && totals.uncompressed >= kProbeSize;
        stream->next_in = in.data();
        stream->avail_in = static_cast<uInt>(got);
        do {
            stream->next_out = out.data();
            stream->avail_out = static_cast<uInt>(out.size());
            const int status = ::deflate(stream, last ? Z_FINISH : probeNow ? Z_BLOCK : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR) throw Error(ErrorKind::Io, "zlib's deflate failed");
            const std::size_t produced = out.size() - stream->avail_out;
            output.write(out.data(), produced);
            totals.compressed += produced;
            finished = status == Z_STREAM_END;
        } while (stream->avail_out == 0 || (last && !finished));
        if (probeNow) {
            probed = true;
            if (notShrinking(totals.uncompressed, totals.compressed, 1)) {
                totals.gaveUp = true;
                return totals;
            }
        }
    }
    totals.crc = static_cast<std::uint32_t>(crc);
    return totals;
}

StreamTotals BlockDeflater::deflateInBlocks(const ByteSource& input, ByteSink& output) {
    StreamTotals totals;
    uLong crc = crc32(0, nullptr, 0);
    std::size_t submitted = 0;
    std::size_t written = 0;
    std::uint64_t writtenInput = 0;
    bool probed = false;
    bool inputEnded = false;
    const std::size_t slotCount = slots_.size();
    try {
        while (!inputEnded || written < submitted) {
            // Keep every slot busy while there is input; the oldest block is written first.
            while (!inputEnded && submitted - written < slotCount) {
                Job& job = *slots_[submitted % slotCount];
                job.dictionaryLength = 0;
                if (submitted > 0) {
                    const Job& previous = *slots_[(submitted - 1) % slotCount];
                    job.dictionaryLength = std::min(kDictionarySize, previous.length);
                    std::memcpy(job.input.data(),
                                previous.input.data() + previous.dictionaryLength + previous.length -
                                    job.dictionaryLength,
                                job.dictionaryLength);
                }
                job.length = input.readAt(totals.uncompressed, job.input.data() + job.dictionaryLength, kBlockSize);
                totals.uncompressed += job.length;
                job.last = job.length < kBlockSize;
                inputEnded = job.last;
                tasks_->start(submitted % slotCount);
                ++submitted;
            }
            Job& oldest = *slots_[written % slotCount];
            tasks_->wait(written % slotCount);
            ++written;
            if (oldest.failed) throw Error(ErrorKind::Io, "zlib's deflate failed");
            output.write(oldest.output.data(), oldest.outputLength);
            totals.compressed += oldest.outputLength;
            crc = crc32_combine(crc, oldest.crc, static_cast<z_off_t>(oldest.length));
            writtenInput += oldest.length;
            const bool probeNow = !oldest.last && !probed && writtenInput >= kProbeSize;
            probed = probed || probeNow;
            if (probeNow && notShrinking(writtenInput, totals.compressed, 0)) {
                while (written < submitted) tasks_->wait(written++ % slotCount);
                totals.gaveUp = true;
                return totals;
            }
        }
    } catch (...) {
        // No task may still be using a slot when the next entry reuses them.
        while (written < submitted) tasks_->wait(written++ % slotCount);
        throw;
    }
    totals.crc = static_cast<std::uint32_t>(crc);
    return totals;
}

}  // namespace zipcore
