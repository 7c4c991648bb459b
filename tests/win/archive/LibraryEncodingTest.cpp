// Update.exe beside Info-ZIP's own archive libraries (a recording stand-in without our encoding export) and beside
// ours, in a suite folder with a Chinese name. ctest runs this as on a Chinese Windows (ANSI code page 936), where
// the names must arrive in GBK, and as on a Western one (1252), where they cannot and must be refused before the
// library is called.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "Driver.h"
#include "InstallTestSupport.h"
#include "infozip_api.h"

using namespace driver;
using namespace install_test;

namespace {

const std::wstring kSuiteFolder = L"软件\\泰维罗";
// The same names in GBK, the ANSI code page of a Chinese Windows, byte for byte.
const std::string kSuiteFolderInGbk = "\xC8\xED\xBC\xFE\\\xCC\xA9\xCE\xAC\xC2\xDE";  // 软件\泰维罗
const std::string kNoteInGbk = "\xCB\xB5\xC3\xF7.txt";                               // 说明.txt

bool ChineseWindows()
{
    return GetACP() == 936;
}

// A program directory under the Chinese suite folder, with either our libraries or the stand-in for Info-ZIP's
// (ours beside it as real-*.dll, which it hands the work on to). The stand-in records into its own log.
struct SuiteFolder {
    explicit SuiteFolder(bool originalLibraries, const std::wstring& folder = kSuiteFolder)
        : dir(BinDirectory(), folder), original(originalLibraries)
    {
        if (!original) return;
        CopyFileW((BinDirectory() + L"zip32.dll").c_str(), (dir / L"real-zip32.dll").c_str(), FALSE);
        CopyFileW((BinDirectory() + L"unzip32.dll").c_str(), (dir / L"real-unzip32.dll").c_str(), FALSE);
        for (const wchar_t* name : {L"zip32.dll", L"unzip32.dll"}) {
            CopyFileW((BinDirectory() + L"OriginalArchiveLibrary.dll").c_str(), (dir / name).c_str(), FALSE);
        }
        SetEnvironmentVariableA("ARCHIVE_DOUBLE_LOG", log.c_str());  // inherited by Update.exe
    }
    ~SuiteFolder() { SetEnvironmentVariableA("ARCHIVE_DOUBLE_LOG", nullptr); }

    // A path in the program directory as Info-ZIP's library must receive it on a Chinese Windows: the temporary
    // folder (plain ASCII), the suite folder in GBK, then `rest`, given in GBK already.
    std::string InGbk(const std::string& rest) const
    {
        const std::wstring root = dir.Path().substr(0, dir.Path().size() - kSuiteFolder.size() - 1);
        for (wchar_t c : root) {
            if (c >= 0x80) throw std::runtime_error("the temporary folder's path is not plain ASCII");
        }
        return Narrow(root) + kSuiteFolderInGbk + "\\" + rest;
    }

    std::vector<std::string> Log() const
    {
        std::ifstream file(std::filesystem::path(Widen(log)));
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);) lines.push_back(line);
        return lines;
    }

    ProgramDir dir;
    TempDir logDir;  // a plain ASCII path, which the stand-in can open on any code page
    bool original;
    std::string log = Narrow(logDir / L"double.log");
};

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool HasLineStartingWith(const std::vector<std::string>& lines, const std::string& start)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

}  // namespace

TEST(ArchiveLibraryEncoding, TheLocaleGivesTheCodePageOfAChineseOrAWesternWindows)
{
    const char* locale = std::getenv("LC_ALL");
    ASSERT_NE(locale, nullptr);
    EXPECT_EQ(GetACP(), std::string(locale).rfind("zh_CN", 0) == 0 ? 936u : 1252u);
    // The system's own conversion, as the tests below rely on it: GBK on a Chinese Windows, lost on a Western one.
    char bytes[64] = {};
    BOOL lost = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, kSuiteFolder.c_str(), -1, bytes, sizeof bytes, nullptr, &lost);
    if (ChineseWindows()) {
        EXPECT_EQ(bytes, kSuiteFolderInGbk);
    } else {
        EXPECT_TRUE(lost);
    }
}

TEST(ArchiveLibraryEncoding, TheInstallHandsItsPathsOverInTheLibrarysCodePageOrRefusesThem)
{
    const bool pageHoldsChinese = ChineseWindows();
    for (bool original : {true, false}) {
        SCOPED_TRACE(original ? "Info-ZIP's libraries" : "ours");
        SuiteFolder suite(original);
        WritePackage(suite.dir, "2.0", {{"说明.txt", "", "新的说明"}});
        UpdateApp app(suite.dir);
        app.ClickStart();
        const MessageBoxInfo box = app.ExpectMessageBox();
        box.Dismiss();
        if (!original || pageHoldsChinese) {
            EXPECT_EQ(box.text, L"升级成功!");
            EXPECT_EQ(suite.dir.ReadFile(L"说明.txt"), "新的说明");
        } else {
            EXPECT_NE(box.text.find(L"代码页无法表示"), std::wstring::npos) << Narrow(box.text);
            EXPECT_NE(box.text.find(kSuiteFolder), std::wstring::npos) << Narrow(box.text);
            EXPECT_TRUE(suite.dir.Exists(L"Quellis.sky"));
            EXPECT_FALSE(suite.dir.Exists(L"说明.txt"));
        }
        const std::vector<std::string> log = suite.Log();
        if (original && pageHoldsChinese) {
            // The option records exactly as the originals are given them, the names in the code page's bytes.
            EXPECT_TRUE(Contains(log, "Wiz_SingleEntryUnzip 0,0 0,0,1,0,0,0,0,0,0,0,0,0,0,1,1,"));
            EXPECT_TRUE(Contains(log, "archive " + suite.InGbk("Quellis.sky")));
            EXPECT_TRUE(HasLineStartingWith(log, "target " + suite.InGbk("Temp\\")))
                << "the target folder did not arrive in the code page's bytes";
        } else {
            EXPECT_TRUE(log.empty()) << "the library was called: " << log.front();
        }
    }
}

TEST(ArchiveLibraryEncoding, F2HandsItsNamesOverInTheLibrarysCodePageOrRefusesBeforeWritingAnything)
{
    const bool pageHoldsChinese = ChineseWindows();
    for (bool original : {true, false}) {
        SCOPED_TRACE(original ? "Info-ZIP's libraries" : "ours");
        SuiteFolder suite(original);
        suite.dir.WriteFile(L"aaa.aaa", "");
        suite.dir.WriteFile(L"FilesToUpdate\\说明.txt", "新的说明");
        suite.dir.WriteFile(L"FilesToUpdate\\Files.xml",
                            "<list><foreversion>1.0</foreversion><version>1.1</version><files>"
                            "<file src=\"说明.txt\" des=\"\"/></files></list>");
        UpdateApp app(suite.dir);
        app.TypeKey(VK_F2);
        const MessageBoxInfo box = app.ExpectMessageBox(60s);
        box.Dismiss();
        // No server is configured: a package that was built reaches the publication and fails to connect there.
        if (!original || pageHoldsChinese) {
            EXPECT_EQ(box.text, L"连接数据库失败");
            EXPECT_TRUE(suite.dir.Exists(L"Output\\Quellis1.0_1.1.sky"));
        } else {
            EXPECT_NE(box.text.find(L"代码页无法表示"), std::wstring::npos) << Narrow(box.text);
            EXPECT_NE(box.text.find(L"说明.txt"), std::wstring::npos) << Narrow(box.text);
            EXPECT_FALSE(suite.dir.Exists(L"Output"));
        }
        const std::vector<std::string> log = suite.Log();
        if (original && pageHoldsChinese) {
            EXPECT_TRUE(Contains(log, "ZpSetOptions junk=-1"));
            EXPECT_TRUE(Contains(log, "ZpArchive " + suite.InGbk("Output\\Quellis1.0_1.1.sky")));
            EXPECT_TRUE(Contains(log, "file " + suite.InGbk("FilesToUpdate\\" + kNoteInGbk)));
        } else {
            EXPECT_TRUE(log.empty()) << "the library was called: " << log.front();
        }
    }
}

// Info-ZIP's unzip32.dll makes only the last level of the folder it extracts into (Debian's unzip shows the habit,
// tests/native/interop_test.cpp), and so does the stand-in: given a target whose parent is missing it fails with 2
// and extracts nothing. A suite that never updated has no Temp\ yet; beside those libraries it must still update.
TEST(ArchiveLibraryEncoding, BesideInfoZipsUnzipASuiteWithoutTempUpdates)
{
    {
        SuiteFolder suite(true, L"Suite");
        WritePackage(suite.dir, "2.0", {{"readme.txt", "", "new"}});
        const HMODULE standIn = LoadLibraryW((suite.dir / L"unzip32.dll").c_str());
        ASSERT_NE(standIn, nullptr);
        const auto unzip = reinterpret_cast<infozip::WizSingleEntryUnzipFn>(
            reinterpret_cast<void*>(GetProcAddress(standIn, "Wiz_SingleEntryUnzip")));
        std::string archive = Narrow(suite.dir / L"Quellis.sky");
        std::string target = Narrow(suite.dir / L"Missing\\Sub\\");
        infozip::UnzipOptions options{};
        options.archiveName = archive.data();
        options.targetDirectory = target.data();
        infozip::UnzipCallbacks callbacks{};
        EXPECT_EQ(unzip(0, nullptr, 0, nullptr, &options, &callbacks), 2) << "the stand-in made a missing parent";
        FreeLibrary(standIn);
        EXPECT_FALSE(suite.dir.Exists(L"Missing"));
    }
    for (bool original : {true, false}) {
        SCOPED_TRACE(original ? "Info-ZIP's libraries" : "ours");
        SuiteFolder suite(original, L"Suite");
        ASSERT_FALSE(suite.dir.Exists(L"Temp"));
        WritePackage(suite.dir, "2.0", {{"readme.txt", "", "new"}});
        UpdateApp app(suite.dir);
        app.ClickStart();
        const MessageBoxInfo box = app.ExpectMessageBox();
        box.Dismiss();
        EXPECT_EQ(box.text, L"升级成功!");
        EXPECT_EQ(suite.dir.ReadFile(L"readme.txt"), "new");
        EXPECT_FALSE(Contains(suite.Log(), "checkdir: cannot create extraction directory"));
    }
}
