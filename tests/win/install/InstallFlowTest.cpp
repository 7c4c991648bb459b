// The install flow end to end: the real Update.exe in a throwaway program directory, clicked as a user clicks,
// with packages written by our archive core and by Debian's zip.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "InstallTestSupport.h"
#include "UpdateDescriptor.h"

using namespace install_test;

namespace {

void ExpectBox(const std::optional<MessageBoxInfo>& box, const std::wstring& text, BoxIcon icon,
               const std::wstring& caption = L"提示")
{
    ASSERT_TRUE(box.has_value()) << "no message box; expected: " << Narrow(text);
    EXPECT_EQ(box->text, text) << Describe(*box);
    EXPECT_EQ(box->icon, icon) << Describe(*box);
    EXPECT_EQ(box->caption, caption) << Describe(*box);
}

// The picture after an install of these payloads over `before`, the package gone.
Picture Installed(Picture before, const std::vector<Payload>& files)
{
    before.erase("Quellis.sky");
    for (const Payload& file : files) {
        std::string directory = file.path;
        if (!directory.empty() && directory.back() != '\\') directory += '\\';
        for (size_t end = directory.find('\\'); end != std::string::npos; end = directory.find('\\', end + 1)) {
            before[directory.substr(0, end + 1)] = "";
        }
        before[directory + file.name] = file.bytes;
    }
    return before;
}

class InstallFlow : public ::testing::Test {
protected:
    ProgramDir directory;
};

const std::vector<Payload> kFiveFiles = {
    {"root.txt", "", "into the program directory"},
    {"old.dll", "Data\\", "version 2"},
    {"deep.bin", "New\\Deeper\\Deepest\\", "three levels created"},
    {"plain.txt", "Plain", "a path without its trailing backslash is a directory"},
    {"中文.txt", "文档\\", "汉字内容"},
};

// What the status line shows on the way to "升级成功!" for kFiveFiles, from the empty line before the click.
const std::vector<std::wstring> kFiveFilesStatuses = {L"",
                                                      L"正在准备升级，请稍候...",
                                                      L"正在升级  root.txt...",
                                                      L"正在升级  old.dll...",
                                                      L"正在升级  deep.bin...",
                                                      L"正在升级  plain.txt...",
                                                      L"正在升级  中文.txt...",
                                                      L"正在更新版本号...",
                                                      L""};

// Whether `seen` is `all` with some texts left out, in the same order.
bool InOrderWithin(const std::vector<std::wstring>& seen, const std::vector<std::wstring>& all)
{
    auto next = all.begin();
    for (const std::wstring& text : seen) {
        next = std::find(next, all.end(), text);
        if (next == all.end()) return false;
        ++next;
    }
    return true;
}

}  // namespace

TEST_F(InstallFlow, InstallsEveryFileStepByStepAndReportsSuccess)
{
    directory.WriteFile(L"Data\\old.dll", "version 1");
    WritePackage(directory, "1.2.3", kFiveFiles);
    const Picture expected = Installed(TakePicture(directory), kFiveFiles);

    Updater app(directory);
    std::vector<std::wstring> statuses{app.Status()};  // before the click: the watch may begin after the first step
    app.ClickStart();
    const auto box = app.NextBoxWatchingStatus(statuses);
    ExpectBox(box, L"升级成功!", BoxIcon::Information);

    // The release's own window, read by polling: a status shown briefly may be missed under load, but every text
    // seen must be one of the sequence, in its order (the whole sequence is checked on the traced build below).
    EXPECT_TRUE(InOrderWithin(statuses, kFiveFilesStatuses)) << ::testing::PrintToString(statuses);
    EXPECT_GT(statuses.size(), 2u) << "no status seen between the click and the message";
    EXPECT_EQ(statuses.back(), L"");
    EXPECT_EQ(Difference(expected, TakePicture(directory)), "");
    EXPECT_FALSE(directory.Exists(L"Temp\\Package\\root.txt")) << "the unpacked copy was moved, not left behind";
    EXPECT_FALSE(directory.Exists(L"Temp\\InstallJournal")) << "the journal and the backups go once all is done";
}

TEST_F(InstallFlow, InstallsAPackageWrittenByDebiansZipWithChineseNames)
{
    const std::wstring fixture = BinDirectory() + L"debian-package.sky";
    ASSERT_NE(GetFileAttributesW(fixture.c_str()), INVALID_FILE_ATTRIBUTES) << "the build made no package with zip";
    ASSERT_TRUE(CopyFileW(fixture.c_str(), (directory / L"Quellis.sky").c_str(), FALSE));

    Updater app(directory);
    app.ClickStart();
    ExpectBox(app.NextBox(), L"升级成功!", BoxIcon::Information);
    EXPECT_EQ(directory.ReadFile(L"文档\\说明.txt"), "中文内容\n");
    EXPECT_EQ(directory.ReadFile(L"readme.txt"), "plain text\n");
    EXPECT_FALSE(directory.Exists(L"Quellis.sky"));
}

TEST_F(InstallFlow, AnEmptyFileListInstallsNothingAndStillSucceeds)
{
    WritePackageWithDescriptor(directory, "<update><version>9.9</version><files/></update>", {});
    const Picture before = TakePicture(directory);

    Updater app(directory);
    app.ClickStart();
    ExpectBox(app.NextBox(), L"升级成功!", BoxIcon::Information);
    EXPECT_EQ(app.Status(), L"");
    EXPECT_EQ(Difference(Installed(before, {}), TakePicture(directory)), "") << "only the package is gone";
}

// Every text the status line is given, from the test build's trace rather than by polling the window: a status
// that shows for a tenth of a second cannot be missed however loaded the machine is.
TEST_F(InstallFlow, TheStatusLineNamesEveryStepInOrder)
{
    struct Case {
        const char* label;
        std::vector<Payload> files;
        std::vector<std::wstring> statuses;  // after the empty line the window opens with
    };
    const std::vector<std::wstring> fiveFiles(kFiveFilesStatuses.begin() + 1, kFiveFilesStatuses.end());
    for (const Case& c : {Case{"five files", kFiveFiles, fiveFiles},
                          Case{"an empty file list", {}, {L"正在准备升级，请稍候...", L"正在更新版本号...", L""}}}) {
        SCOPED_TRACE(c.label);
        ProgramDir program;
        program.CopyFromBin(L"UpdateWithFaults.exe");
        WritePackage(program, "2.0", c.files);
        TempDir traces;
        const std::wstring trace = traces / L"trace.txt";
        Updater app(program, L"UpdateWithFaults.exe", L"--trace=\"" + trace + L"\"");
        app.ClickStart();
        ExpectBox(app.NextBox(), L"升级成功!", BoxIcon::Information);
        EXPECT_EQ(ReadStatusTrace(trace), c.statuses);
    }
}

// No package; a package without a descriptor while an earlier run's descriptor still lies in Temp\; and the
// same without unzip32.dll. None may change anything, and the old descriptor must never be replayed.
TEST_F(InstallFlow, ExpectedFailuresSayWhatIsWrongAndChangeNothing)
{
    {
        const Picture before = TakePicture(directory);
        Updater app(directory);
        app.ClickStart();
        ExpectBox(app.NextBox(), L"未检查到升级程序!", BoxIcon::Information);
        EXPECT_EQ(app.Status(), L"");
        EXPECT_EQ(Difference(before, TakePicture(directory)), "");
    }

    auto leaveAnEarlierRunsDescriptor = [this] {
        for (const std::wstring folder : {L"Temp\\", L"Temp\\Package\\"}) {
            directory.WriteFile(folder + L"update.xml",
                                "<update><version>0.1</version><files><file name=\"stale.txt\" path=\"\"/></files>"
                                "</update>");
            directory.WriteFile(folder + L"stale.txt", "from an earlier run");
        }
    };
    leaveAnEarlierRunsDescriptor();
    WriteArchive(directory, {{"payload.txt", "a package that lost its descriptor"}});
    {
        const Picture before = TakePicture(directory);
        Updater app(directory);
        app.ClickStart();
        ExpectBox(app.NextBox(), L"升级程序不完整!", BoxIcon::Error);
        EXPECT_EQ(app.Status(), L"正在准备升级，请稍候...") << "the status line keeps its text";
        EXPECT_EQ(Difference(before, TakePicture(directory)), "") << "the earlier run must not be replayed";
    }

    leaveAnEarlierRunsDescriptor();
    directory.Remove(L"unzip32.dll");
    {
        const Picture before = TakePicture(directory);
        Updater app(directory);
        app.ClickStart();
        ExpectBox(app.NextBox(), L"找不到unzip32.dll", BoxIcon::Information);
        FindMessageBox(app.ProcessId())->Dismiss();
        ExpectBox(app.NextBox(), L"升级程序不完整!", BoxIcon::Error);
        EXPECT_EQ(Difference(before, TakePicture(directory)), "") << "the earlier run must not be replayed";
        EXPECT_TRUE(directory.Exists(L"Quellis.sky"));
    }
}

// What an earlier run left in the staging folder is removed before the package is unpacked; when it cannot be,
// nothing happens.
TEST_F(InstallFlow, AnEarlierDescriptorThatCannotBeRemovedStopsTheInstallBeforeItStarts)
{
    directory.WriteFile(L"Temp\\Package\\update.xml", "<update><version>0.1</version><files/></update>");
    WritePackage(directory, "2.0", {{"a.txt", "", "new"}});
    const Picture before = TakePicture(directory);
    Updater app(directory);
    {
        HANDLE lock = CreateFileW((directory / L"Temp\\Package\\update.xml").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        app.ClickStart();
        const auto box = app.NextBox();
        CloseHandle(lock);
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->icon, BoxIcon::Error);
        EXPECT_EQ(box->caption, L"提示");
        const std::wstring start = L"无法删除上次升级留下的 " + (directory / L"Temp\\Package\\update.xml") + L"：";
        const std::wstring end = L"（错误 32）。升级已停止，没有做任何更改，可以再次运行升级。";
        EXPECT_EQ(box->text.rfind(start, 0), 0u) << Describe(*box);
        EXPECT_EQ(box->text.substr(box->text.size() - std::min(box->text.size(), end.size())), end) << Describe(*box);
        EXPECT_EQ(Difference(before, TakePicture(directory)), "");
        box->Dismiss();
    }
    app.ClickStart();
    ExpectBox(app.NextBox(), L"升级成功!", BoxIcon::Information);
    EXPECT_EQ(directory.ReadFile(L"a.txt"), "new");
}

TEST_F(InstallFlow, ASuiteProgramThatRefusesToCloseStopsTheInstallBeforeItStarts)
{
    WritePackage(directory, "2.0", {{"a.txt", "", "new"}});
    const Picture before = TakePicture(directory);
    Process suite(BinDirectory() + L"FakeSuiteProgram.exe", L"\"MorvaneTavilo(移动版)\" ignore");
    ASSERT_TRUE(WaitUntil([] { return FindWindowW(nullptr, L"MorvaneTavilo(移动版)") != nullptr; }, 20s));

    Updater app(directory);
    app.ClickStart();
    ExpectBox(app.NextBox(), L"请先关闭正在运行的程序!", BoxIcon::Error);
    EXPECT_EQ(Difference(before, TakePicture(directory)), "");
    EXPECT_FALSE(directory.Exists(L"Temp")) << "nothing was extracted";
}

// The destination a test process holds open without sharing: the files placed before it are put back, the
// message names the file and the reason, and once the file is free the same package installs.
TEST_F(InstallFlow, ALockedDestinationRollsEverythingBackAndNamesTheFile)
{
    directory.WriteFile(L"Data\\b.dll", "old b");
    directory.WriteFile(L"Data\\locked.dll", "old locked");
    const std::vector<Payload> files = {
        {"a.txt", "", "new a"},
        {"b.dll", "Data\\", "new b"},
        {"locked.dll", "Data\\", "new locked"},
        {"c.txt", "NewDir\\", "new c"},
    };
    WritePackage(directory, "3.0", files);
    const Picture before = TakePicture(directory);

    Updater app(directory);
    {
        HANDLE lock = CreateFileW((directory / L"Data\\locked.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        app.ClickStart();
        const auto box = app.NextBox();
        CloseHandle(lock);
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->icon, BoxIcon::Error);
        EXPECT_EQ(box->caption, L"提示");
        const std::wstring locked = directory / L"Data\\locked.dll";
        EXPECT_NE(box->text.find(L"无法替换文件 " + locked + L"："), std::wstring::npos) << Describe(*box);
        EXPECT_NE(box->text.find(L"（错误 32）"), std::wstring::npos) << Describe(*box);
        EXPECT_NE(box->text.find(L"没有做任何更改"), std::wstring::npos) << Describe(*box);
        EXPECT_EQ(box->text.find(L"升级成功"), std::wstring::npos);
        // The Restart Manager names the holder where it answers (Windows); under Wine it names nobody.
        const bool named =
            box->text.find(L"(PID " + std::to_wstring(GetCurrentProcessId()) + L")") != std::wstring::npos;
        RecordProperty("restart_manager_named_the_holder", named ? "yes" : "no");
        EXPECT_EQ(named, box->text.find(L"正在使用这个文件的程序") != std::wstring::npos) << Describe(*box);
        EXPECT_EQ(app.Status(), L"");
        EXPECT_EQ(Difference(before, TakePicture(directory)), "") << "a.txt and b.dll must be put back";
        EXPECT_TRUE(JournalLeftovers(directory).empty());
        EXPECT_EQ(directory.ReadFile(L"Temp\\Package\\a.txt"), "new a") << "the unpacked copies go back";
        box->Dismiss();
    }

    app.ClickStart();
    ExpectBox(app.NextBox(), L"升级成功!", BoxIcon::Information);
    EXPECT_EQ(Difference(Installed(before, files), TakePicture(directory)), "");
}

// Each hostile or faulty entry comes second, after a harmless one: it is refused before the first file moves.
TEST_F(InstallFlow, UnsafeOrFaultyEntriesAreRefusedBeforeAnythingMoves)
{
    directory.WriteFile(L"Data\\keep.txt", "kept");
    struct Case {
        std::string name;
        std::string path;
        std::wstring reason;  // a part of the message
    };
    const Case cases[] = {
        {"..\\evil.txt", "", L"文件名不能含有"},
        {"sub/evil.txt", "", L"文件名不能含有"},
        {"C:evil.txt", "", L"文件名不能含有"},
        {"", "", L"文件名为空"},
        {".", "", L"名称不能是 . 或 .."},
        {"..", "", L"名称不能是 . 或 .."},
        {"nul.txt", "", L"设备名"},
        {"evil?.txt", "", L"不允许的字符"},
        {"UPDATE.XML", "", L"update.xml"},
        {"update.xml", "Temp\\", L"update.xml"},
        {"temp", "", L"临时目录"},
        {"package", "Temp\\", L"临时目录 Temp\\Package"},
        {"first.txt", "Other\\", L"与第 1 个文件同名"},
        {"absent.txt", "", L"升级包中没有这个文件"},
        {"x.txt", "C:\\Windows\\", L"相对路径"},
        {"x.txt", "\\\\server\\share\\", L"相对路径"},
        {"x.txt", "\\rooted\\", L"相对路径"},
        {"x.txt", "/rooted/", L"相对路径"},
        {"x.txt", "D:", L"相对路径"},
        {"x.txt", "..\\", L".. 目录"},
        {"x.txt", "Data\\..\\..\\", L".. 目录"},
        {"x.txt", "Data/../../", L".. 目录"},
        {"x.txt", "Data\\\\Sub\\", L"名称为空"},
        {"x.txt", "con\\", L"设备名"},
        {"x.txt", "Temp\\Package\\", L"临时目录 Temp\\Package"},
        {"x.txt", "temp\\InstallJournal\\", L"临时目录 Temp\\InstallJournal"},
        {"x.txt", "Temp\\update.xml\\", L"升级说明 Temp\\update.xml"},
        {"update.LOCK", "Temp\\", L"锁文件 Temp\\Update.lock"},
        {"updatekey.FLOOR", "", L"版本记录 UpdateKey.floor"},
        {"update.LOG.1", "Temp\\", L"日志文件 Temp\\Update.log.1"},
        {"x.txt", "Temp\\Update.log\\", L"日志文件 Temp\\Update.log"},
        {"Quellis.sky", "", L"升级包"},
        {"Data", "", L"同名的目录"},
    };
    Updater app(directory);
    for (const Case& c : cases) {
        SCOPED_TRACE("name \"" + c.name + "\", path \"" + c.path + "\"");
        const std::string descriptor = ComposeDescriptor("4.0", {{"first.txt", ""}, {c.name, c.path}});
        std::map<std::string, std::string> entries = {{"first.txt", "first"}, {"x.txt", "x"}, {"Data", "d"}};
        WritePackageWithDescriptor(directory, descriptor, entries);
        const Picture before = TakePicture(directory);

        app.ClickStart();
        const auto box = app.NextBox();
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->icon, BoxIcon::Error) << Describe(*box);
        EXPECT_EQ(box->caption, L"提示");
        EXPECT_EQ(box->text.rfind(L"升级说明中的第 2 个文件不能安装（文件名 \"" + Widen(c.name) + L"\"，路径 \"" +
                                      Widen(c.path) + L"\"）：",
                                  0),
                  0u)
            << Describe(*box);
        EXPECT_NE(box->text.find(c.reason), std::wstring::npos) << Describe(*box);
        EXPECT_NE(box->text.find(L"没有做任何更改"), std::wstring::npos) << Describe(*box);
        box->Dismiss();
        EXPECT_EQ(Difference(before, TakePicture(directory)), "") << "first.txt must not have moved";
        EXPECT_FALSE(directory.Exists(L"Temp\\InstallJournal"));
    }
}

TEST_F(InstallFlow, AMissingAttributeEndsTheFlowThroughTheDefaultHandlerBeforeAnythingMoves)
{
    WritePackageWithDescriptor(directory,
                               "<update><version>5</version><files><file name=\"first.txt\" path=\"\"/>"
                               "<file name=\"second.txt\"/></files></update>",
                               {{"first.txt", "1"}, {"second.txt", "2"}});
    const Picture before = TakePicture(directory);

    Updater app(directory);
    app.ClickStart();
    ExpectBox(app.NextBox(), L"Could not convert variant of type (Null) into type (String)", BoxIcon::Error, L"Update");
    EXPECT_EQ(Difference(before, TakePicture(directory)), "");
}

// Windows refuses paths of MAX_PATH characters and more unless they take the \\?\ form (Wine does not, so this
// proves that nothing in the way shortens or refuses them; the form itself is checked in-process).
TEST_F(InstallFlow, AFileAtAPathOfThreeHundredCharactersInstallsAndReplaces)
{
    std::string deep;
    while ((directory.Path().size() + deep.size()) < 260) deep += "a-directory-of-thirty-characters\\";
    const std::string name = "a-file-name-long-enough-to-pass-three-hundred-characters.txt";
    ASSERT_GE(directory.Path().size() + deep.size() + name.size(), 300u);
    // Removed before the program directory is: the driver's clean-up cannot walk paths this long.
    struct RemovedAtTheEnd {
        std::wstring path;
        ~RemovedAtTheEnd() { RemoveTree(path); }
    } deepTree{directory / L"a-directory-of-thirty-characters"};
    const std::wstring existing = Widen(deep) + L"old-" + Widen(name);
    directory.WriteFile(existing, "before");
    const std::vector<Payload> files = {{name, deep, "new"}, {"old-" + name, deep, "after"}};
    WritePackage(directory, "6.0", files);
    const Picture before = TakePicture(directory);

    Updater app(directory);
    app.ClickStart();
    ExpectBox(app.NextBox(), L"升级成功!", BoxIcon::Information);
    EXPECT_EQ(Difference(Installed(before, files), TakePicture(directory)), "");
}

TEST_F(InstallFlow, TheReleaseProgramHasNoFaultSeam)
{
    WritePackage(directory, "7.0", {{"a.txt", "", "a"}});
    const LocalVersionRecord testDatabase("6.0");  // named to the program; only the test build may write there
    TempDir traces;
    Updater app(directory, L"Update.exe",
                L"--kill-at=1 --fail-at=1,2,3,4,5,6,7,8,9 --trace=\"" + (traces / L"trace.txt") + L"\"");
    app.ClickStart();
    ExpectBox(app.NextBox(), L"升级成功!", BoxIcon::Information);
    EXPECT_EQ(directory.ReadFile(L"a.txt"), "a");
    EXPECT_EQ(testDatabase.Versions(), std::vector<std::string>{"6.0"});
    EXPECT_FALSE(traces.Exists(L"trace.txt"));
}

// ---- what earlier runs, other zip tools and program directories that have lived a while bring -----------------

// The package cannot supply b.txt (its CRC fails, or it lacks it) while earlier runs left a b.txt in Temp\ and in
// the staging folder: only what this package unpacked may be installed. The message names the entry and the
// reason, nothing moves, and the package stays.
TEST_F(InstallFlow, LeftoversOfEarlierRunsNeverStandInForAFileThePackageCannotSupply)
{
    const std::string descriptor = ComposeDescriptor("2.0", {{"a.txt", ""}, {"b.txt", ""}});
    for (const bool corrupt : {true, false}) {
        SCOPED_TRACE(corrupt ? "b.txt fails its CRC" : "b.txt is missing");
        for (const std::wstring folder : {L"Temp\\", L"Temp\\Package\\"})
            directory.WriteFile(folder + L"b.txt", "stale");
        std::map<std::string, std::string> entries = {{"a.txt", "new a"}};
        if (corrupt) entries["b.txt"] = "new b";
        WritePackageWithDescriptor(directory, descriptor, entries);
        if (corrupt) CorruptCrc(directory, "b.txt");
        const Picture before = TakePicture(directory);

        Updater app(directory);
        app.ClickStart();
        const auto box = app.NextBox();
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->icon, BoxIcon::Error) << Describe(*box);
        const std::wstring start =
            corrupt ? L"无法解压升级包中的文件 b.txt：" : L"升级说明中的第 2 个文件不能安装（文件名 \"b.txt\"";
        const std::wstring part = corrupt ? L"CRC error in \"b.txt\"（unzip32.dll 错误 2）" : L"升级包中没有这个文件";
        EXPECT_EQ(box->text.rfind(start, 0), 0u) << Describe(*box);
        EXPECT_NE(box->text.find(part), std::wstring::npos) << Describe(*box);
        EXPECT_NE(box->text.find(L"没有做任何更改"), std::wstring::npos) << Describe(*box);
        EXPECT_EQ(Difference(before, TakePicture(directory)), "") << "the package stays and nothing moved";
    }
}

// An older version let an entry named InstallJournal unpack as a file where the journal's folder belongs, and
// every install failed from then on. That file is cleared away, and an entry of that name is a file like another.
TEST_F(InstallFlow, AFileWhereTheJournalBelongsBlocksNoInstall)
{
    directory.WriteFile(L"Temp\\InstallJournal", "unpacked here by an older version");
    const std::vector<Payload> files = {{"InstallJournal", "Data\\", "a payload of that name"}};
    WritePackage(directory, "2.0", files);
    const Picture expected = Installed(TakePicture(directory), files);

    Updater app(directory);
    app.ClickStart();
    ExpectBox(app.NextBox(), L"升级成功!", BoxIcon::Information);
    EXPECT_EQ(Difference(expected, TakePicture(directory)), "");
}

// Files replaced in a folder on the program's own volume and in one on another volume (under Wine a folder linked
// to /dev/shm, where a move fails with ERROR_NOT_SAME_DEVICE), read-only or not. A rollback (the second file is
// held open) puts each original back byte for byte with its attributes; the install then leaves no backup behind.
TEST_F(InstallFlow, ReplacedFilesOnAnyVolumeComeBackWithTheirAttributesAndLeaveNoBackup)
{
    struct Case {
        const char* what;
        bool otherVolume;
        bool readOnly;
    };
    for (const Case c : {Case{"read-only, this volume", false, true}, Case{"another volume", true, false},
                         Case{"read-only, another volume", true, true}}) {
        SCOPED_TRACE(c.what);
        if (c.otherVolume && !UnderWine()) continue;  // the other volume is a host file system
        ProgramDir program;
        std::optional<OtherVolumeFolder> other;
        std::optional<HostLink> link;
        if (c.otherVolume) {
            other.emplace(program.Path());
            link.emplace(program / L"Bin", other->Path());
            ASSERT_TRUE(link->Made());
        }
        program.WriteFile(L"Bin\\old.dll", "old");
        program.WriteFile(L"Bin\\held.dll", "old held");
        const std::wstring old = program / L"Bin\\old.dll";
        if (c.readOnly) {
            ASSERT_TRUE(SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        const std::vector<Payload> files = {{"old.dll", "Bin\\", "new"}, {"held.dll", "Bin\\", "new held"}};
        WritePackage(program, "2.0", files);
        const Picture before = TakePicture(program);

        Updater app(program);
        {
            HANDLE held = CreateFileW((program / L"Bin\\held.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
            app.ClickStart();
            const auto box = app.NextBox();
            CloseHandle(held);
            ASSERT_TRUE(box.has_value());
            EXPECT_NE(box->text.find(L"没有做任何更改"), std::wstring::npos) << Describe(*box);
            box->Dismiss();
        }
        EXPECT_EQ(Difference(before, TakePicture(program)), "");
        EXPECT_EQ((GetFileAttributesW(old.c_str()) & FILE_ATTRIBUTE_READONLY) != 0, c.readOnly);

        app.ClickStart();
        ExpectBox(app.NextBox(), L"升级成功!", BoxIcon::Information);
        EXPECT_EQ(Difference(Installed(before, files), TakePicture(program)), "") << "no partial copy either";
        EXPECT_TRUE(JournalLeftovers(program).empty()) << "the backups go, read-only or not";
    }
}

// Links where the install works: Temp\ itself, the journal's folder, and one inside the staging folder. Nothing is
// listed, deleted or moved through them: what they point to survives every click, and the message names the
// link; without a package the click says that there is none, as it always has. (Under Wine a host's link to a folder
// reads as a reparse point, but every call on it acts on its target, so even the link inside the staging folder cannot
// be removed there; on Windows it is, and the install goes on.)
TEST_F(InstallFlow, NothingIsDeletedOrMovedThroughALink)
{
    if (!UnderWine()) GTEST_SKIP() << "the links are made with the host's ln";
    struct Case {
        std::wstring link;
        std::wstring planted;  // what the install would delete if it went through the link
        bool package = true;
    };
    for (const Case& c : {Case{L"Temp", L"Package\\a.txt"}, Case{L"Temp", L"InstallJournal\\journal.log", false},
                          Case{L"Temp\\InstallJournal", L"1.bak"}, Case{L"Temp\\Package\\inner", L"precious.txt"}}) {
        SCOPED_TRACE(Narrow(c.link) + (c.package ? "" : ", no package"));
        ProgramDir program;
        TempDir target;
        target.WriteFile(c.planted, "precious");
        program.WriteFile(L"Temp\\Package\\stale.txt", "stale");
        if (c.link == L"Temp") program.Remove(L"Temp");
        if (c.package) WritePackage(program, "2.0", {{"a.txt", "", "a"}});
        HostLink link(program / c.link, target.Path());
        ASSERT_TRUE(link.Made());

        Updater app(program);
        for (int click = 0; click < 2; ++click) {
            app.ClickStart();
            const auto box = app.NextBox();
            ASSERT_TRUE(box.has_value());
            if (c.package) {
                EXPECT_EQ(box->icon, BoxIcon::Error) << Describe(*box);
                EXPECT_NE(box->text.find((program / c.link) + L" 是一个链接"), std::wstring::npos) << Describe(*box);
            } else {
                ExpectBox(box, L"未检查到升级程序!", BoxIcon::Information);
            }
            box->Dismiss();
        }
        EXPECT_EQ(target.ReadFile(c.planted), "precious");
        EXPECT_EQ(program.Exists(L"Quellis.sky"), c.package);
        EXPECT_FALSE(program.Exists(L"a.txt"));
    }
}

// A package that cannot be deleted once installed (held open here) is never installed again: each later click
// finishes the install it belongs to, tries to delete it again and says so, in one message, until it goes.
TEST_F(InstallFlow, AnInstalledPackageThatCannotBeDeletedIsNeverInstalledAgain)
{
    WritePackage(directory, "2.0", {{"a.txt", "", "new a"}});
    const std::wstring package = directory / L"Quellis.sky";
    Updater app(directory);
    HANDLE held = CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    app.ClickStart();
    ExpectBox(app.NextBox(), L"升级成功!", BoxIcon::Information);
    FindMessageBox(app.ProcessId())->Dismiss();
    directory.WriteFile(L"a.txt", "changed since");

    app.ClickStart();
    auto box = app.NextBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->icon, BoxIcon::Error) << Describe(*box);
    EXPECT_EQ(
        box->text.rfind(L"上次的升级已经完成。升级包 " + package + L" 已经安装过，不会再次安装，但仍然无法删除它：", 0),
        0u)
        << Describe(*box);
    box->Dismiss();
    EXPECT_EQ(directory.ReadFile(L"a.txt"), "changed since");

    // One click, one message: the next box is the answer to the next click, not a second one of this click.
    CloseHandle(held);
    app.ClickStart();
    ExpectBox(app.NextBox(), L"上次的升级已经完成。升级包 " + package + L" 已经安装过，不会再次安装，现已将它删除。",
              BoxIcon::Information);
    FindMessageBox(app.ProcessId())->Dismiss();
    EXPECT_EQ(directory.ReadFile(L"a.txt"), "changed since");
    EXPECT_FALSE(directory.Exists(L"Quellis.sky"));
    EXPECT_TRUE(JournalLeftovers(directory).empty());
    // One click, one message, as above: the sentinel click's answer must be the next box.
    app.ClickStart();
    ExpectBox(app.NextBox(), L"未检查到升级程序!", BoxIcon::Information);
}

// Temp\ is the suite's as much as the updater's: only the updater's own items there (the staging folder, the
// journal's folder, the descriptor it leaves) are kept from a package.
TEST_F(InstallFlow, AFileInTempOutsideTheUpdatersOwnItemsInstallsLikeAnyOther)
{
    directory.WriteFile(L"Temp\\Cache\\index.dat", "old index");
    const std::vector<Payload> files = {
        {"index.dat", "Temp\\Cache\\", "new index"},
        {"lessons.db", "Temp\\Cache\\Lessons\\", "a new folder in the cache"},
        {"Package.txt", "Temp\\", "not the staging folder"},
    };
    WritePackage(directory, "2.0", files);
    Picture expected = Installed(TakePicture(directory), files);
    expected.erase("Temp\\");  // the updater's own folder, left out of every picture

    Updater app(directory);
    app.ClickStart();
    ExpectBox(app.NextBox(), L"升级成功!", BoxIcon::Information);
    EXPECT_EQ(Difference(expected, TakePicture(directory)), "");
    EXPECT_TRUE(JournalLeftovers(directory).empty());
}

// Temp\update.xml holds the descriptor of the package installed last, byte for byte as the package stores it, in
// place of one an older updater left. It is placed inside the transaction: a refusal leaves the older one alone,
// and a rollback puts it back.
TEST_F(InstallFlow, TempUpdateXmlHoldsTheInstalledPackagesDescriptor)
{
    const std::string older = "<update><version>0.9</version><files/></update>";
    // An author's tool may write it otherwise than ours: a declaration, CRLF line ends, a comment after the root.
    const std::string descriptor = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" +
                                   ComposeDescriptor("2.0", {{"a.txt", ""}, {"b.dll", "Data\\"}}) +
                                   "\r\n<!-- 由作者的工具写出 -->\r\n";
    struct Case {
        const char* what;
        std::map<std::string, std::string> entries;
        const wchar_t* heldFile;  // held open during the click, or null
        bool installs;
    };
    const Case cases[] = {
        {"installed", {{"a.txt", "new a"}, {"b.dll", "new b"}}, nullptr, true},
        {"refused: b.dll is missing", {{"a.txt", "new a"}}, nullptr, false},
        {"rolled back: b.dll is held", {{"a.txt", "new a"}, {"b.dll", "new b"}}, L"Data\\b.dll", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramDir program;
        program.WriteFile(L"Data\\b.dll", "old b");
        program.WriteFile(L"Temp\\update.xml", older);
        WritePackageWithDescriptor(program, descriptor, c.entries);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.heldFile) {
            held = CreateFileW((program / c.heldFile).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        Updater app(program);
        app.ClickStart();
        const auto box = app.NextBox();
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->text == L"升级成功!", c.installs) << Describe(*box);
        EXPECT_EQ(program.ReadFile(L"Temp\\update.xml"), c.installs ? descriptor : older);
        EXPECT_EQ(program.Exists(L"a.txt"), c.installs) << "the rest of the install went the same way";
        EXPECT_TRUE(JournalLeftovers(program).empty());
    }
}

// Two copies clicked in one program directory: the first is held at its first file operation (the test build's
// pause), so the second clicks while an upgrade is surely running. The second is told so at once and changes
// nothing; released, the first installs, and its lock goes with its run.
TEST_F(InstallFlow, ASecondCopyClickedMeanwhileIsToldThatAnUpgradeIsRunning)
{
    directory.CopyFromBin(L"UpdateWithFaults.exe");
    const std::vector<Payload> files = {{"a.txt", "", "new a"}};
    WritePackage(directory, "2.0", files);
    const Picture before = TakePicture(directory);
    TempDir control;
    const std::wstring trace = control / L"trace.txt";
    Updater first(directory, L"UpdateWithFaults.exe",
                  L"--trace=\"" + trace + L"\" --pause-at=1,\"" + (control / L"resume") + L"\"");
    first.ClickStart();
    ASSERT_TRUE(WaitUntil([&] { return !ReadTrace(trace).empty(); }, 30s)) << "the first copy never reached its pause";

    Updater second(directory);
    second.ClickStart();
    const auto told = second.NextBox();
    ExpectBox(told, L"另一个升级程序正在运行，请等它结束后再试。", BoxIcon::Error);
    if (told) told->Dismiss();
    EXPECT_EQ(Difference(before, TakePicture(directory)), "");
    EXPECT_EQ(ReadTrace(trace).size(), 1u) << "the first copy is still held";

    control.WriteFile(L"resume", "");
    ExpectBox(first.NextBox(), L"升级成功!", BoxIcon::Information);
    EXPECT_EQ(Difference(Installed(before, files), TakePicture(directory)), "");
    EXPECT_FALSE(directory.Exists(L"Temp\\Update.lock"));
    // The second copy wrote to the log the first one held open all along.
    const std::vector<std::string> events = SupportLogEvents(directory);
    EXPECT_EQ(FirstMissingInOrder(events, {"start: install", "start: install", "s: 另一个升级程序正在运行",
                                           "placed: ", "s: 升级成功!"}),
              "")
        << ::testing::PrintToString(events);
    second.ClickStart();
    ExpectBox(second.NextBox(), L"未检查到升级程序!", BoxIcon::Information);
}
