// The writer and the reader against each other: contents, methods, Zip64, atomic replacement of the archive,
// and flat extraction with its options.
#include <gtest/gtest.h>

#include <algorithm>
#include <span>

#include "test_support.hpp"
#include "zip_forge.hpp"
#include "zipcore/error.hpp"
#include "zipcore/extract.hpp"
#include "zipcore/zip_reader.hpp"
#include "zipcore/zip_writer.hpp"

namespace {

using namespace ziptest;
using zipcore::ErrorKind;

zipcore::MemorySource sourceOf(const std::string& bytes)
{
    return zipcore::MemorySource(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::string contentOf(const zipcore::ZipReader& reader, const zipcore::Entry& entry)
{
    zipcore::VectorSink sink;
    reader.read(entry, sink);
    return std::string(sink.bytes().begin(), sink.bytes().end());
}

void writeArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& files,
                  zipcore::WriterOptions options = {})
{
    zipcore::ZipWriter writer(path, options);
    for (const auto& [name, content] : files) writer.addEntry(name, sourceOf(content), {});
    writer.finish();
}

template <typename Action>
ErrorKind kindOf(Action&& action)
{
    try {
        action();
    } catch (const zipcore::Error& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no error";
    return ErrorKind::Usage;
}

const std::vector<std::pair<std::string, std::string>>& mixedFiles()
{
    static const std::vector<std::pair<std::string, std::string>> files = {
        {"text.txt", sampleText(100'000)},
        {"random.bin", randomBytes(50'000)},
        {"empty.txt", ""},
        {"large.txt", sampleText(1'500'000, 7)},  // many deflate blocks
        {"\xE4\xB8\xAD\xE6\x96\x87\xE5\x90\x8D.txt", "\xE4\xB8\xAD\xE6\x96\x87"},
    };
    return files;
}

TEST(RoundTrip, EveryContentComesBackWithTheFittingMethod)
{
    TempDir dir;
    for (const unsigned threads : {1u, 2u, 4u}) {
        SCOPED_TRACE(threads);
        writeArchive(dir / "a.zip", mixedFiles(), {.threads = threads});
        const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "a.zip");
        ASSERT_EQ(reader.entries().size(), mixedFiles().size());
        for (std::size_t i = 0; i < mixedFiles().size(); ++i) {
            const zipcore::Entry& entry = reader.entries()[i];
            EXPECT_EQ(entry.name, mixedFiles()[i].first);
            EXPECT_EQ(contentOf(reader, entry), mixedFiles()[i].second);
            EXPECT_EQ(entry.flags & 0x0800, 0x0800);
        }
        EXPECT_EQ(reader.entries()[0].method, 8);
        EXPECT_EQ(reader.entries()[1].method, 0) << "random data is stored, not inflated by deflate";
        EXPECT_EQ(reader.entries()[2].method, 0);
        EXPECT_LT(reader.entries()[3].compressedSize, reader.entries()[3].uncompressedSize / 3);
    }
}

TEST(RoundTrip, DeflatingInParallelCompressesAsWellAsSerially)
{
    TempDir dir;
    const std::string text = sampleText(3'000'000, 3);
    writeArchive(dir / "serial.zip", {{"t.txt", text}}, {.threads = 1});
    writeArchive(dir / "parallel.zip", {{"t.txt", text}}, {.threads = 2});
    const auto serial = zipcore::ZipReader::open(dir / "serial.zip").entries()[0].compressedSize;
    const auto parallel = zipcore::ZipReader::open(dir / "parallel.zip").entries()[0].compressedSize;
    EXPECT_LT(static_cast<double>(parallel), static_cast<double>(serial) * 1.005);
}

TEST(RoundTrip, DataThatDoesNotShrinkIsStoredWhateverItsSize)
{
    // Past the deflater's probe: it gives up early, and the entry is stored all the same.
    TempDir dir;
    const std::string random = randomBytes(6 << 20, 11);
    for (const unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(threads);
        writeArchive(dir / "a.zip", {{"random.bin", random}, {"text.txt", sampleText(10'000)}}, {.threads = threads});
        const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "a.zip");
        EXPECT_EQ(reader.entries()[0].method, 0);
        EXPECT_EQ(reader.entries()[0].compressedSize, random.size());
        EXPECT_EQ(contentOf(reader, reader.entries()[0]), random);
        EXPECT_EQ(contentOf(reader, reader.entries()[1]), sampleText(10'000));
    }
}

TEST(RoundTrip, LevelZeroStoresEverything)
{
    TempDir dir;
    writeArchive(dir / "a.zip", mixedFiles(), {.level = 0});
    const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "a.zip");
    for (const zipcore::Entry& entry : reader.entries()) EXPECT_EQ(entry.method, 0);
    EXPECT_EQ(contentOf(reader, reader.entries()[3]), mixedFiles()[3].second);
}

TEST(RoundTrip, ForcedZip64RecordsReadBack)
{
    TempDir dir;
    writeArchive(dir / "a.zip", mixedFiles(), {.forceZip64 = true});
    const std::string bytes = readFile(dir / "a.zip");
    EXPECT_NE(bytes.find(std::string("PK\x06\x06", 4)), std::string::npos) << "Zip64 end record";
    EXPECT_NE(bytes.find(std::string("PK\x06\x07", 4)), std::string::npos) << "Zip64 locator";
    const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "a.zip");
    ASSERT_EQ(reader.entries().size(), mixedFiles().size());
    for (std::size_t i = 0; i < mixedFiles().size(); ++i)
        EXPECT_EQ(contentOf(reader, reader.entries()[i]), mixedFiles()[i].second);
}

TEST(AtomicWriting, AnUnfinishedArchiveLeavesTheTargetAlone)
{
    TempDir dir;
    writeFile(dir / "a.zip", "stale archive");
    {
        zipcore::ZipWriter writer(dir / "a.zip");
        writer.addEntry("x.txt", sourceOf("x"), {});
        EXPECT_EQ(kindOf([&] { writer.addFile(dir / "missing.txt", "missing.txt"); }), ErrorKind::NotFound);
    }
    EXPECT_EQ(readFile(dir / "a.zip"), "stale archive");
    EXPECT_EQ(treeOf(dir.path()), std::vector<std::string>{"a.zip"}) << "the temporary file is gone";
}

TEST(AtomicWriting, AFinishedArchiveReplacesAStaleOneInsteadOfAddingToIt)
{
    TempDir dir;
    writeArchive(dir / "a.zip", {{"old.txt", "old"}});
    writeArchive(dir / "a.zip", {{"new.txt", "new"}});
    const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "a.zip");
    ASSERT_EQ(reader.entries().size(), 1u);
    EXPECT_EQ(reader.entries()[0].name, "new.txt");
    EXPECT_EQ(treeOf(dir.path()), std::vector<std::string>{"a.zip"});
}

TEST(ZipWriter, RefusesTwoEntriesOfTheSameNameInAnyCase)
{
    TempDir dir;
    zipcore::ZipWriter writer(dir / "a.zip");
    writer.addEntry("Update.xml", sourceOf("a"), {});
    EXPECT_EQ(kindOf([&] { writer.addEntry("update.XML", sourceOf("b"), {}); }), ErrorKind::Usage);
    writer.addEntry("\xC3\x89t\xC3\xA9.txt", sourceOf("a"), {});  // Été.txt
    EXPECT_EQ(kindOf([&] { writer.addEntry("\xC3\xA9T\xC3\x89.TXT", sourceOf("b"), {}); }), ErrorKind::Usage);
    writer.addEntry("other.xml", sourceOf("c"), {});  // a refused name does not spoil the archive
    writer.finish();
    EXPECT_EQ(zipcore::ZipReader::open(dir / "a.zip").entries().size(), 3u);
}

TEST(ZipWriter, StoresTheFilesTime)
{
    TempDir dir;
    writeFile(dir / "f.txt", "content");
    zipcore::ZipWriter writer(dir / "a.zip");
    writer.addFile(dir / "f.txt", "f.txt");
    writer.finish();
    const auto stored = zipcore::ZipReader::open(dir / "a.zip").entries()[0].modified;
    EXPECT_EQ(stored, zipcore::fileInfo(dir / "f.txt").modified);
    EXPECT_GT(stored.date, (1 << 5) | 1);
}

TEST(ExtractFlat, PutsEveryFileBesideTheOthersAndReplacesExistingOnes)
{
    TempDir dir;
    writeArchive(dir / "a.zip", {{"dir/sub/one.txt", "one"}, {"two.txt", "two"}, {"dir\\three.txt", "three"}});
    const std::string target = dir / "new/nested/target";
    ASSERT_FALSE(zipcore::fileInfo(target).exists);
    zipcore::extractFlat(zipcore::ZipReader::open(dir / "a.zip"), target);
    writeFile(target + "/two.txt", "an older two");
    const auto summary = zipcore::extractFlat(zipcore::ZipReader::open(dir / "a.zip"), target);
    EXPECT_EQ(summary.filesWritten, 3u);
    EXPECT_EQ(treeOf(target), (std::vector<std::string>{"one.txt", "three.txt", "two.txt"}));
    EXPECT_EQ(readFile(target + "/two.txt"), "two");
    EXPECT_EQ(readFile(target + "/three.txt"), "three");
}

TEST(ExtractFlat, HonoursSelectionKeepingAndCancelling)
{
    TempDir dir;
    writeArchive(dir / "a.zip", {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
    const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "a.zip");
    const std::string target = dir / "t";

    zipcore::extractFlat(reader, target, {.select = [](const zipcore::Entry& e) { return e.name != "b.txt"; }});
    EXPECT_EQ(treeOf(target), (std::vector<std::string>{"a.txt", "c.txt"}));

    writeFile(target + "/a.txt", "keep me");
    const auto kept = zipcore::extractFlat(reader, target, {.replaceExisting = false});
    EXPECT_EQ(kept.filesSkipped, 2u);
    EXPECT_EQ(readFile(target + "/a.txt"), "keep me");
    EXPECT_EQ(zipcore::extractFlat(reader, target, {.replaceExisting = false}).filesSkipped, 3u);

    std::vector<std::string> seen;
    zipcore::ExtractOptions cancelling;
    cancelling.beforeEntry = [&](const std::string& name, const zipcore::Entry&) {
        seen.push_back(name);
        return name != "b.txt";
    };
    writeFile(target + "/b.txt", "old b");
    EXPECT_EQ(kindOf([&] { zipcore::extractFlat(reader, target, cancelling); }), ErrorKind::Cancelled);
    EXPECT_EQ(seen, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(readFile(target + "/b.txt"), "old b");
}

// Files are inflated several at once but committed in order: a damaged entry leaves exactly the files before it,
// however soon the smaller ones after it are done.
TEST(ExtractFlat, ADamagedEntryLeavesTheFilesBeforeItAndNoneAfterIt)
{
    TempDir dir;
    std::vector<ForgedEntry> entries;
    std::vector<std::string> before;
    for (int i = 0; i < 6; ++i) {
        entries.push_back({.name = "big" + std::to_string(i) + ".txt", .content = sampleText(600'000, i + 1)});
        before.push_back(entries.back().name);
    }
    entries.push_back({.name = "damaged.txt", .content = sampleText(50'000), .crc = 1});
    for (int i = 0; i < 6; ++i) entries.push_back({.name = "small" + std::to_string(i) + ".txt", .content = "s"});
    writeFile(dir / "a.zip", forgeArchive(entries));
    std::sort(before.begin(), before.end());
    for (const unsigned threads : {1u, 4u}) {
        SCOPED_TRACE(threads);
        const std::string target = dir / ("t" + std::to_string(threads));
        const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "a.zip");
        EXPECT_EQ(kindOf([&] { zipcore::extractFlat(reader, target, {.threads = threads}); }), ErrorKind::Corrupt);
        EXPECT_EQ(treeOf(target), before);
    }
}

TEST(ExtractFlat, RefusesAnArchiveLargerThanTheFreeSpaceBeforeWritingAnything)
{
    // Honest headers, declared sizes only: the free-space check alone stands in the way.
    const struct {
        const char* label;
        std::vector<std::uint64_t> declaredSizes;
    } cases[] = {
        {"a petabyte", {std::uint64_t{1} << 50}},
        {"two Zip64 sizes whose sum wraps past 2^64 to almost nothing", {~std::uint64_t{0} - 0xFFFFFFFF, 0xFFFFFFFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        std::vector<ForgedEntry> entries = {{.name = "small.txt", .content = "small"}};
        for (const std::uint64_t size : c.declaredSizes)
            entries.push_back(
                {.name = "huge" + std::to_string(entries.size()) + ".bin", .content = "x", .uncompressedSize = size});
        writeFile(dir / "a.zip", forgeArchive(entries));
        EXPECT_EQ(kindOf([&] { zipcore::extractFlat(zipcore::ZipReader::open(dir / "a.zip"), dir / "t"); }),
                  ErrorKind::DiskFull);
        EXPECT_TRUE(treeOf(dir / "t").empty());
    }
}

TEST(ZipReader, ReportsMissingFilesAndNonArchives)
{
    TempDir dir;
    EXPECT_EQ(kindOf([&] { zipcore::ZipReader::open(dir / "missing.zip"); }), ErrorKind::NotFound);
    writeFile(dir / "text.zip", sampleText(100'000));
    EXPECT_EQ(kindOf([&] { zipcore::ZipReader::open(dir / "text.zip"); }), ErrorKind::NotZip);
    writeFile(dir / "tiny.zip", "PK");
    EXPECT_EQ(kindOf([&] { zipcore::ZipReader::open(dir / "tiny.zip"); }), ErrorKind::NotZip);
}

TEST(ZipReader, RefusesEncryptedAndUnknownMethods)
{
    TempDir dir;
    writeFile(dir / "enc.zip", forgeArchive({{.name = "a.txt", .content = "a", .flags = 0x0801}}));
    EXPECT_EQ(kindOf([&] { zipcore::ZipReader::open(dir / "enc.zip"); }), ErrorKind::Unsupported);
    std::string bzip = forgeArchive({{.name = "a.txt", .content = "a", .deflate = false}});
    for (const std::size_t methodAt : {std::size_t{8}, bzip.find("PK\x01\x02") + 10}) bzip[methodAt] = 12;
    writeFile(dir / "bzip.zip", bzip);
    EXPECT_EQ(kindOf([&] { zipcore::ZipReader::open(dir / "bzip.zip"); }), ErrorKind::Unsupported);
}

}  // namespace
