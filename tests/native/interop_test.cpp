// Both directions against Debian's Info-ZIP programs, run as peers: archives we write pass `unzip -t` and
// extract to the same bytes; archives `zip` writes extract through our reader to the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <span>

#include "test_support.hpp"
#include "zipcore/entry_name.hpp"
#include "zipcore/extract.hpp"
#include "zipcore/zip_reader.hpp"
#include "zipcore/zip_writer.hpp"

namespace {

using namespace ziptest;

const std::string kChineseName = "\xE4\xB8\xAD\xE6\x96\x87\xE5\x90\x8D.txt";  // 中文名.txt

// Files spread over two directories, as an author's file list would be.
std::map<std::string, std::string> writeSampleFiles(const TempDir& dir)
{
    const std::map<std::string, std::string> files = {
        {"one/text.txt", sampleText(300'000)},       {"one/empty.txt", ""},
        {"two/random.bin", randomBytes(200'000)},    {"two/" + kChineseName, "\xE4\xB8\xAD\xE6\x96\x87\n"},
        {"two/large.txt", sampleText(1'200'000, 9)},
    };
    fs::create_directories(dir.path() / "one");
    fs::create_directories(dir.path() / "two");
    for (const auto& [path, content] : files) writeFile(dir.path() / path, content);
    return files;
}

std::string bareName(const std::string& path)
{
    return fs::path(path).filename().string();
}

void expectExtractedCopies(const std::map<std::string, std::string>& files, const fs::path& directory)
{
    std::vector<std::string> expectedNames;
    for (const auto& [path, content] : files) {
        expectedNames.push_back(bareName(path));
        EXPECT_EQ(readFile(directory / bareName(path)), content) << path;
    }
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(treeOf(directory), expectedNames);
}

std::string packWithZipcore(const TempDir& dir, const std::map<std::string, std::string>& files,
                            zipcore::WriterOptions options = {})
{
    const std::string archive = dir / "ours.zip";
    zipcore::ZipWriter writer(archive, options);
    for (const auto& [path, content] : files) {
        const std::string full = dir / path;
        writer.addFile(full, zipcore::entryNameForPath(full, true));
    }
    writer.finish();
    return archive;
}

void expectInfoZipAccepts(const std::string& archive, const std::map<std::string, std::string>& files,
                          const TempDir& dir)
{
    const CommandResult test = run("unzip -tq " + quote(archive));
    EXPECT_EQ(test.exitCode, 0) << test.output;
    const CommandResult list = run("unzip -Z1 " + quote(archive));
    EXPECT_EQ(list.exitCode, 0) << list.output;
    std::string expectedList;
    for (const auto& [path, content] : files) expectedList += bareName(path) + "\n";
    EXPECT_EQ(list.output, expectedList);
    const CommandResult extract = run("unzip -o -q " + quote(archive) + " -d " + quote(dir / "unzipped"));
    EXPECT_EQ(extract.exitCode, 0) << extract.output;
    expectExtractedCopies(files, dir.path() / "unzipped");
}

TEST(InteropWithInfoZip, UnzipAcceptsOurArchives)
{
    TempDir dir;
    const auto files = writeSampleFiles(dir);
    expectInfoZipAccepts(packWithZipcore(dir, files), files, dir);
}

TEST(InteropWithInfoZip, UnzipAcceptsOurZip64Records)
{
    TempDir dir;
    const auto files = writeSampleFiles(dir);
    expectInfoZipAccepts(packWithZipcore(dir, files, {.forceZip64 = true}), files, dir);
}

TEST(InteropWithInfoZip, MoreThan65535EntriesTakeZip64BothWays)
{
    TempDir dir;
    constexpr std::size_t kCount = 66'000;
    {
        zipcore::ZipWriter writer(dir / "many.zip");
        const std::string content = "x";
        const zipcore::MemorySource source(std::span(reinterpret_cast<const std::uint8_t*>(content.data()), 1));
        for (std::size_t i = 0; i < kCount; ++i) writer.addEntry("f" + std::to_string(i), source, {});
        writer.finish();
    }
    const CommandResult test = run("unzip -tq " + quote(dir / "many.zip"));
    EXPECT_EQ(test.exitCode, 0) << test.output.substr(0, 2000);
    const CommandResult count = run("unzip -Z1 " + quote(dir / "many.zip") + " | wc -l");
    EXPECT_EQ(std::stoul(count.output), kCount);

    // And back: Info-ZIP's own archive of as many files.
    const CommandResult zip = run("cd " + quote(dir.path().string()) +
                                  " && unzip -q many.zip -d files && cd files && "
                                  "ls | zip -q -@ ../theirs.zip");
    ASSERT_EQ(zip.exitCode, 0) << zip.output;
    const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "theirs.zip");
    EXPECT_EQ(reader.entries().size(), kCount);
    EXPECT_EQ(zipcore::testEntries(reader), kCount);
}

// The habit the test stand-in for Info-ZIP's unzip32.dll copies (tests/win/archive/OriginalArchiveLibrary.cpp):
// UnZip makes the last level of the folder it extracts into, never the levels above it, and then fails with 2
// before it writes anything.
TEST(InteropWithInfoZip, UnzipMakesOnlyTheLastLevelOfItsTargetFolder)
{
    TempDir dir;
    const auto files = writeSampleFiles(dir);
    const std::string archive = packWithZipcore(dir, files);
    const CommandResult missingParent = run("unzip -q " + quote(archive) + " -d " + quote(dir / "missing/sub"));
    EXPECT_EQ(missingParent.exitCode, 2) << missingParent.output;
    EXPECT_NE(missingParent.output.find("cannot create extraction directory"), std::string::npos)
        << missingParent.output;
    EXPECT_FALSE(fs::exists(dir.path() / "missing"));

    fs::create_directories(dir.path() / "present");
    const CommandResult lastLevel = run("unzip -q " + quote(archive) + " -d " + quote(dir / "present/sub"));
    EXPECT_EQ(lastLevel.exitCode, 0) << lastLevel.output;
    EXPECT_EQ(readFile(dir.path() / "present/sub/text.txt"), files.at("one/text.txt"));
}

struct InfoZipVariant {
    const char* label;
    const char* command;  // run in the sample directory, writes ../theirs.zip
    bool allStored;
};

TEST(InteropWithInfoZip, OurReaderExtractsWhatZipWrites)
{
    const InfoZipVariant variants[] = {
        {"deflated, junked paths", "zip -q -j ../theirs.zip one/* two/*", false},
        {"stored", "zip -q -0 -j ../theirs.zip one/* two/*", true},
        {"with directory entries", "zip -q -r ../theirs.zip one two", false},
        {"Zip64 records", "zip -q -fz -j ../theirs.zip one/* two/*", false},
        {"written to a pipe (data descriptors)", "zip -q - one/* two/* > ../theirs.zip", false},
    };
    for (const InfoZipVariant& variant : variants) {
        SCOPED_TRACE(variant.label);
        TempDir dir;
        const auto files = writeSampleFiles(dir);
        const fs::path samples = dir.path() / "samples";
        fs::create_directories(samples);
        fs::rename(dir.path() / "one", samples / "one");
        fs::rename(dir.path() / "two", samples / "two");
        const CommandResult zip = run("cd " + quote(samples.string()) + " && " + variant.command);
        ASSERT_EQ(zip.exitCode, 0) << zip.output;

        const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "theirs.zip");
        bool sawChineseName = false;
        for (const zipcore::Entry& entry : reader.entries()) {
            sawChineseName = sawChineseName || bareName(entry.name) == kChineseName;
            if (variant.allStored) EXPECT_EQ(entry.method, 0) << entry.name;
        }
        EXPECT_TRUE(sawChineseName) << "Debian's UTF-8 names without the UTF-8 flag are read as UTF-8";
        zipcore::extractFlat(reader, dir / "extracted");
        expectExtractedCopies(files, dir.path() / "extracted");
    }
}

}  // namespace

namespace {

// More than 4 GiB in one entry and at entry offsets. Minutes of work and gigabytes of disk: run on demand with
// ZIPCORE_BIG_TESTS=1 in the environment.
TEST(InteropWithInfoZip, EntriesAndOffsetsBeyond4GiB)
{
    if (!std::getenv("ZIPCORE_BIG_TESTS")) GTEST_SKIP() << "set ZIPCORE_BIG_TESTS=1 to run";
    TempDir dir;
    const std::uint64_t bigSize = (std::uint64_t{9} << 29) + 12345;  // 4.5 GiB and a little
    {
        std::ofstream(dir / "big.bin").close();
    }
    fs::resize_file(dir / "big.bin", bigSize);  // sparse: zeros cost no disk until an archive stores them
    writeFile(dir / "small.txt", "after the big one");
    for (const int level : {-1, 0}) {
        SCOPED_TRACE(level);
        const std::string archive = dir / "ours.zip";
        {
            zipcore::ZipWriter writer(archive, {.level = level});
            writer.addFile(dir / "big.bin", "big.bin");
            writer.addFile(dir / "small.txt", "small.txt");
            writer.finish();
        }
        const CommandResult test = run("unzip -tq " + quote(archive));
        EXPECT_EQ(test.exitCode, 0) << test.output;
        const zipcore::ZipReader reader = zipcore::ZipReader::open(archive);
        EXPECT_EQ(reader.entries()[0].uncompressedSize, bigSize);
        if (level == 0) EXPECT_GT(reader.entries()[1].localHeaderOffset, std::uint64_t{0xFFFFFFFF});
        EXPECT_EQ(zipcore::testEntries(reader), 2u);
        fs::remove(archive);
    }
    const CommandResult zip = run("cd " + quote(dir.path().string()) + " && zip -q theirs.zip big.bin small.txt");
    ASSERT_EQ(zip.exitCode, 0) << zip.output;
    const zipcore::ZipReader theirs = zipcore::ZipReader::open(dir / "theirs.zip");
    EXPECT_EQ(theirs.entries()[0].uncompressedSize, bigSize);
    zipcore::extractFlat(theirs, dir / "out");
    EXPECT_EQ(fs::file_size(dir.path() / "out" / "big.bin"), bigSize);
    EXPECT_EQ(readFile(dir.path() / "out" / "small.txt"), "after the big one");
}

}  // namespace
