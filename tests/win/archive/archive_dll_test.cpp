// zip32.dll and unzip32.dll through their exported interface, as the program's wrappers call them: records and
// callbacks of the shared header, names as UTF-8, every failure a return code with a text, never an exception.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "hostile_corpus.hpp"
#include "Driver.h"
#include "LoadedLibrary.h"
#include "infozip_api.h"
#include "sample_data.hpp"
#include "zipcore/name_match.hpp"
#include "zipcore/text.hpp"
#include "zipcore/zip_reader.hpp"

namespace {

namespace fs = std::filesystem;
using namespace infozip;
using driver::TempDir;

std::string utf8(const fs::path& path)
{
    return zipcore::toUtf8(path.wstring());
}

void writeFile(const fs::path& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good()) << utf8(path);
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> treeOf(const fs::path& root)
{
    std::vector<std::string> entries;
    for (const auto& item : fs::recursive_directory_iterator(root))
        entries.push_back(utf8(fs::relative(item.path(), root)));
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<std::string> entryNames(const fs::path& archive)
{
    const zipcore::ZipReader reader = zipcore::ZipReader::open(utf8(archive));
    std::vector<std::string> names;
    for (const auto& entry : reader.entries()) names.push_back(entry.name);
    return names;
}

// The callbacks are plain functions without a context pointer, as the interface defines them: what they see is
// gathered here, one recorder per test.
struct Recorder {
    std::string printed;
    std::vector<std::string> listed;
    int replaceCalls = 0;
    std::string cancelAt;
};
Recorder* recorder = nullptr;

int WINAPI recordPrint(char* text, unsigned long length)
{
    recorder->printed.append(text, length);
    return static_cast<int>(length);
}
char* WINAPI keepComment(char* buffer)
{
    return buffer;
}
int WINAPI noPassword(char*, int, const char*, const char*)
{
    return 1;
}
int WINAPI serviceUntilCancel(const char* name, unsigned long)
{
    return !recorder->cancelAt.empty() && fs::u8path(name).filename() == fs::u8path(recorder->cancelAt) ? 1 : 0;
}
int WINAPI countReplace(char*)
{
    ++recorder->replaceCalls;
    return 1;
}
void WINAPI recordMessage(unsigned long, unsigned long, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned,
                          char, const char* name, const char*, unsigned long, char)
{
    recorder->listed.emplace_back(name);
}

class ArchiveLibraries : public testing::Test {
protected:
    void SetUp() override
    {
        recorder = &record;
        ASSERT_TRUE(zip.loaded() && unzip.loaded()) << "zip32.dll and unzip32.dll beside the test";
        getOptions = zip.get<ZpGetOptionsFn>("ZpGetOptions");
        setOptions = zip.get<ZpSetOptionsFn>("ZpSetOptions");
        init = zip.get<ZpInitFn>("ZpInit");
        archive = zip.get<ZpArchiveFn>("ZpArchive");
        singleEntryUnzip = unzip.get<WizSingleEntryUnzipFn>("Wiz_SingleEntryUnzip");
        ASSERT_TRUE(getOptions && setOptions && init && archive && singleEntryUnzip);
        ZipCallbacks callbacks{recordPrint, keepComment, noPassword, serviceUntilCancel};
        ASSERT_TRUE(init(&callbacks));
        setJunkDirectories(true);
    }
    void TearDown() override { recorder = nullptr; }

    void setJunkDirectories(bool junk)
    {
        ZipOptions options{};
        ASSERT_TRUE(getOptions(&options));
        options.fields[kJunkDirectoriesField] = junk ? -1 : 0;
        ASSERT_TRUE(setOptions(&options));
    }

    int zipFiles(const fs::path& archivePath, const std::vector<fs::path>& files)
    {
        std::string name = utf8(archivePath);
        std::vector<std::string> names;
        for (const fs::path& file : files) names.push_back(utf8(file));
        std::vector<char*> pointers;
        for (std::string& file : names) pointers.push_back(file.data());
        return archive(ZipRequest{static_cast<int>(pointers.size()), name.data(), pointers.data()});
    }

    // The records exactly as the program fills them, with include and exclude names on top.
    int unzipArchive(const fs::path& archivePath, const fs::path& target, std::vector<std::string> include = {},
                     std::vector<std::string> exclude = {}, void (*adjust)(UnzipOptions&) = nullptr)
    {
        std::string name = utf8(archivePath);
        std::string directory = utf8(target);
        UnzipOptions options{0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, name.data(), directory.data()};
        if (adjust) adjust(options);
        UnzipCallbacks callbacks{recordPrint, nullptr, countReplace, noPassword, recordMessage, serviceUntilCancel};
        std::vector<char*> includes, excludes;
        for (std::string& s : include) includes.push_back(s.data());
        for (std::string& s : exclude) excludes.push_back(s.data());
        const int result = singleEntryUnzip(static_cast<int>(includes.size()), includes.data(),
                                            static_cast<int>(excludes.size()), excludes.data(), &options, &callbacks);
        lastTotals = callbacks;
        return result;
    }

    Recorder record;
    LoadedLibrary zip{L"zip32.dll"};
    LoadedLibrary unzip{L"unzip32.dll"};
    ZpGetOptionsFn getOptions = nullptr;
    ZpSetOptionsFn setOptions = nullptr;
    ZpInitFn init = nullptr;
    ZpArchiveFn archive = nullptr;
    WizSingleEntryUnzipFn singleEntryUnzip = nullptr;
    UnzipCallbacks lastTotals{};
    TempDir dir;
};

const std::string kChineseName = "\xE4\xB8\xAD\xE6\x96\x87\xE5\x90\x8D.txt";  // 中文名.txt

TEST_F(ArchiveLibraries, OptionsRecordKeepsWhatIsSet)
{
    ZipOptions options{};
    ASSERT_TRUE(getOptions(&options));
    options.fields[kJunkDirectoriesField] = -1;
    options.fields[3] = 1234;
    ASSERT_TRUE(setOptions(&options));
    ZipOptions again{};
    ASSERT_TRUE(getOptions(&again));
    EXPECT_EQ(again.fields[kJunkDirectoriesField], -1);
    EXPECT_EQ(again.fields[3], 1234);
    EXPECT_FALSE(getOptions(nullptr));
    EXPECT_FALSE(setOptions(nullptr));
    EXPECT_FALSE(init(nullptr));
}

TEST_F(ArchiveLibraries, FilesFromDifferentDirectoriesLandFlatAndComeBackIdentical)
{
    fs::create_directories(dir / "one");
    fs::create_directories(dir / "two/deeper");
    const std::string text = ziptest::sampleText(400'000);
    const std::string random = ziptest::randomBytes(70'000);
    writeFile(dir / "one/text.txt", text);
    writeFile(dir / ("two/deeper/" + kChineseName), "\xE4\xB8\xAD\xE6\x96\x87");
    writeFile(dir / "two/random.bin", random);
    writeFile(dir / "two/empty.txt", "");
    ASSERT_EQ(zipFiles(dir / "Quellis1_2.sky", {dir / "one/text.txt", dir / ("two/deeper/" + kChineseName),
                                                dir / "two/random.bin", dir / "two/empty.txt"}),
              kZipOk)
        << record.printed;
    EXPECT_EQ(entryNames(dir / "Quellis1_2.sky"),
              (std::vector<std::string>{"text.txt", kChineseName, "random.bin", "empty.txt"}));

    const fs::path target = dir / "Temp";
    ASSERT_FALSE(fs::exists(target));
    ASSERT_EQ(unzipArchive(dir / "Quellis1_2.sky", utf8(target) + "\\"), kUnzipOk) << record.printed;
    EXPECT_EQ(treeOf(target), (std::vector<std::string>{"empty.txt", "random.bin", "text.txt", kChineseName}));
    EXPECT_EQ(readFile(target / "text.txt"), text);
    EXPECT_EQ(readFile(target / "random.bin"), random);
    EXPECT_EQ(readFile(target / fs::u8path(kChineseName)), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(lastTotals.memberCount, 4u);
    EXPECT_EQ(lastTotals.totalSize, text.size() + random.size() + 6);
}

TEST_F(ArchiveLibraries, WithoutJunkingTheRelativePathIsStored)
{
    setJunkDirectories(false);
    fs::create_directories(dir / "one");
    writeFile(dir / "one/a.txt", "a");
    ASSERT_EQ(zipFiles(dir / "a.zip", {dir / "one/a.txt"}), kZipOk) << record.printed;
    const std::string stored = entryNames(dir / "a.zip").at(0);
    EXPECT_TRUE(stored.ends_with("/one/a.txt")) << stored;
    EXPECT_EQ(stored.find(':'), std::string::npos) << "no drive letter in a stored name";
}

TEST_F(ArchiveLibraries, FailedPackingLeavesAStaleArchiveAndNoTemporaryFile)
{
    writeFile(dir / "a.txt", "a");
    fs::create_directories(dir / "sub");
    writeFile(dir / "sub/A.TXT", "A");
    writeFile(dir / "out.zip", "stale");
    struct Case {
        const char* label;
        std::vector<fs::path> files;
        int expected;
    } cases[] = {
        {"missing file", {dir / "a.txt", dir / "missing.txt"}, kZipCannotOpenFile},
        {"one name twice", {dir / "a.txt", dir / "sub/A.TXT"}, kZipBadParameters},
        {"a directory", {dir / "sub"}, kZipBadParameters},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        record.printed.clear();
        EXPECT_EQ(zipFiles(dir / "out.zip", c.files), c.expected);
        EXPECT_NE(record.printed.find("zip error: "), std::string::npos) << record.printed;
        EXPECT_EQ(readFile(dir / "out.zip"), "stale");
        EXPECT_EQ(treeOf(dir.Folder()), (std::vector<std::string>{"a.txt", "out.zip", "sub", "sub\\A.TXT"}));
    }
    EXPECT_EQ(zipFiles(dir / "out.zip", {}), kZipNothingToDo);
    record.cancelAt = "a.txt";
    EXPECT_EQ(zipFiles(dir / "out.zip", {dir / "a.txt"}), kZipCancelled);
    EXPECT_EQ(readFile(dir / "out.zip"), "stale");
    EXPECT_EQ(archive(ZipRequest{0, nullptr, nullptr}), kZipBadParameters);
}

TEST_F(ArchiveLibraries, ExtractionReplacesExistingFilesWithoutAsking)
{
    writeFile(dir / "a.txt", "new a");
    writeFile(dir / "b.txt", "new b");
    ASSERT_EQ(zipFiles(dir / "p.zip", {dir / "a.txt", dir / "b.txt"}), kZipOk);
    const fs::path target = dir / "target";
    fs::create_directories(target);
    writeFile(target / "a.txt", "old a");
    writeFile(target / "keep.txt", "untouched");
    SetFileAttributesW((target / "a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(unzipArchive(dir / "p.zip", target), kUnzipOk) << record.printed;
    EXPECT_EQ(readFile(target / "a.txt"), "new a");
    EXPECT_EQ(readFile(target / "keep.txt"), "untouched");
    EXPECT_EQ(record.replaceCalls, 0);

    writeFile(target / "b.txt", "old b");
    ASSERT_EQ(unzipArchive(dir / "p.zip", target, {}, {}, [](UnzipOptions& o) { o.neverOverwrite = 1; }), kUnzipOk);
    EXPECT_EQ(readFile(target / "b.txt"), "old b");
}

TEST_F(ArchiveLibraries, IncludeAndExcludeNamesMatchWithoutRegardToCase)
{
    for (const char* name : {"Update.xml", "a.txt", "b.bin"}) writeFile(dir / name, name);
    ASSERT_EQ(zipFiles(dir / "p.zip", {dir / "Update.xml", dir / "a.txt", dir / "b.bin"}), kZipOk);
    ASSERT_EQ(unzipArchive(dir / "p.zip", dir / "t1", {"update.XML", "A.TXT"}), kUnzipOk);
    EXPECT_EQ(treeOf(dir / "t1"), (std::vector<std::string>{"Update.xml", "a.txt"}));
    ASSERT_EQ(unzipArchive(dir / "p.zip", dir / "t2", {}, {"*.BIN"}), kUnzipOk);
    EXPECT_EQ(treeOf(dir / "t2"), (std::vector<std::string>{"Update.xml", "a.txt"}));
    EXPECT_EQ(unzipArchive(dir / "p.zip", dir / "t3", {"nothing.*"}), kUnzipNoMatch);
    EXPECT_EQ(
        unzipArchive(dir / "p.zip", dir / "t4", {"update.xml"}, {}, [](UnzipOptions& o) { o.caseInsensitive = 0; }),
        kUnzipNoMatch);
}

// The core compares names by a table of its own, so that it says the same natively; here it must say what
// CompareStringOrdinal says, for every character of the Basic Multilingual Plane against its case partners.
TEST(FileNameRule, AgreesWithCompareStringOrdinalOnEveryCharacter)
{
    std::size_t disagreements = 0;
    for (unsigned code = 1; code <= 0xFFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) continue;
        const std::wstring character(1, static_cast<wchar_t>(code));
        std::wstring upper = character, lower = character;
        CharUpperBuffW(upper.data(), 1);
        CharLowerBuffW(lower.data(), 1);
        const std::wstring key = zipcore::toUtf16(zipcore::fileNameKey(zipcore::toUtf8(character)));
        for (const std::wstring& partner : {upper, lower, key}) {
            const bool windows = CompareStringOrdinal(character.data(), 1, partner.data(),
                                                      static_cast<int>(partner.size()), TRUE) == CSTR_EQUAL;
            const bool core = zipcore::sameFileName(zipcore::toUtf8(character), zipcore::toUtf8(partner));
            if (windows != core && ++disagreements <= 10)
                ADD_FAILURE() << std::hex << "U+" << code << " and U+" << static_cast<unsigned>(partner[0])
                              << ": Windows " << windows << ", core " << core;
        }
    }
    EXPECT_EQ(disagreements, 0u);
}

TEST_F(ArchiveLibraries, TestingAndListingWriteNothing)
{
    writeFile(dir / "a.txt", "a");
    ASSERT_EQ(zipFiles(dir / "p.zip", {dir / "a.txt"}), kZipOk);
    EXPECT_EQ(unzipArchive(dir / "p.zip", dir / "t", {}, {}, [](UnzipOptions& o) { o.testOnly = 1; }), kUnzipOk);
    EXPECT_EQ(unzipArchive(dir / "p.zip", dir / "t", {}, {}, [](UnzipOptions& o) { o.listOnly = 1; }), kUnzipOk);
    EXPECT_EQ(record.listed, std::vector<std::string>{"a.txt"});
    EXPECT_FALSE(fs::exists(dir / "t"));
}

TEST_F(ArchiveLibraries, ExtractionFailuresAreReturnedAndPrinted)
{
    writeFile(dir / "text.zip", "not an archive at all, just some text that is long enough");
    struct Case {
        const char* label;
        fs::path archive;
        int expected;
    } cases[] = {
        {"missing archive", dir / "missing.zip", kUnzipNoArchive},
        {"not an archive", dir / "text.zip", kUnzipNoArchive},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        record.printed.clear();
        EXPECT_EQ(unzipArchive(c.archive, dir / "t"), c.expected);
        EXPECT_NE(record.printed.find("unzip error: "), std::string::npos) << record.printed;
    }
    EXPECT_EQ(singleEntryUnzip(0, nullptr, 0, nullptr, nullptr, nullptr), kUnzipBadParameters);
    UnzipOptions noName{};
    EXPECT_EQ(singleEntryUnzip(0, nullptr, 0, nullptr, &noName, nullptr), kUnzipBadParameters);
    EXPECT_EQ(singleEntryUnzip(2, nullptr, 0, nullptr, &noName, nullptr), kUnzipBadParameters);

    writeFile(dir / "a.txt", "a");
    writeFile(dir / "b.txt", "b");
    ASSERT_EQ(zipFiles(dir / "p.zip", {dir / "a.txt", dir / "b.txt"}), kZipOk);
    record.cancelAt = "b.txt";
    EXPECT_EQ(unzipArchive(dir / "p.zip", dir / "c"), kUnzipCancelled);
    EXPECT_EQ(treeOf(dir / "c"), std::vector<std::string>{"a.txt"});
}

// Under Wine a name such as "\\x" resolves on the current drive, which maps the host's root when the test starts
// from the host's tree: the hostile extractions run with a throwaway directory as the current one.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const fs::path& path) : previous_(fs::current_path()) { fs::current_path(path); }
    ~CurrentDirectory()
    {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
    }

private:
    fs::path previous_;
};

// The library's result for each kind of refusal, as the interface documents it.
int resultFor(zipcore::ErrorKind kind)
{
    switch (kind) {
    case zipcore::ErrorKind::Unsafe:
        return kUnzipRefused;
    case zipcore::ErrorKind::NotZip:
        return kUnzipNoArchive;
    default:
        return kUnzipArchiveError;
    }
}

TEST_F(ArchiveLibraries, HostileArchivesAreRefusedWithoutHarm)
{
    const CurrentDirectory inThrowawayTree(dir.Folder());
    const fs::path evilInRoot = fs::path(dir.Folder().root_path()) / ziptest::kEvilName;
    for (const ziptest::HostileArchive& hostile : ziptest::hostileArchives()) {
        SCOPED_TRACE(hostile.label);
        TempDir sandbox;
        writeFile(dir / "hostile.zip", hostile.bytes);
        const fs::path target = sandbox / "target";
        fs::create_directories(target);
        writeFile(target / ziptest::kGoodName, ziptest::kGoodContent);
        record.printed.clear();
        EXPECT_EQ(unzipArchive(dir / "hostile.zip", target), resultFor(hostile.kind));
        EXPECT_NE(record.printed.find("unzip error: "), std::string::npos) << record.printed;
        // Extraction follows the archive's order: only a sound entry ahead of the damage can have landed.
        std::vector<std::string> expected = {"target", "target\\good.txt"};
        if (hostile.firstLands) expected.insert(expected.begin() + 1, "target\\first.txt");
        EXPECT_EQ(treeOf(sandbox.Folder()), expected);
        EXPECT_EQ(readFile(target / ziptest::kGoodName), ziptest::kGoodContent);
        EXPECT_FALSE(fs::exists(evilInRoot));
        EXPECT_FALSE(fs::exists(dir.Folder().parent_path() / ziptest::kEvilName));
    }
}

TEST_F(ArchiveLibraries, PathsLongerThanMaxPathWork)
{
    fs::path deep = dir.Folder();
    for (int i = 0; i < 6; ++i) deep /= std::string(50, static_cast<char>('a' + i));
    fs::create_directories(deep);
    ASSERT_GT(deep.wstring().size(), static_cast<std::size_t>(MAX_PATH));
    writeFile(dir / "a.txt", "far away");
    ASSERT_EQ(zipFiles(deep / "p.zip", {dir / "a.txt"}), kZipOk) << record.printed;
    ASSERT_EQ(unzipArchive(deep / "p.zip", deep / "target"), kUnzipOk) << record.printed;
    EXPECT_EQ(readFile(deep / "target" / "a.txt"), "far away");
}

}  // namespace
