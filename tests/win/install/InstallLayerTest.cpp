// The install transaction's parts in-process: the journal's records and what a crash leaves of them, the checks
// on names and paths from a package, undoing and finishing a transaction, the long-path form at the file
// operations, and what the Restart Manager says about a held file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "Driver.h"
#include "InstallTestSupport.h"
#include "Paths.h"
#include "install/FileHolders.h"
#include "install/FileOperations.h"
#include "install/InstallTexts.h"
#include "install/InstallTransaction.h"
#include "install/Journal.h"
#include "install/SafeNames.h"

namespace fs = std::filesystem;
using driver::TempDir;

namespace {

// Everything under the directory (Temp\ included), relative path to content; directories end in '\'.
std::map<std::string, std::string> Tree(const TempDir& directory)
{
    std::map<std::string, std::string> tree;
    const fs::path root(directory.Path());
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        std::string relative = driver::Narrow(fs::relative(item.path(), root).wstring());
        std::replace(relative.begin(), relative.end(), '/', '\\');
        if (item.is_directory()) {
            tree[relative + "\\"] = "";
        } else {
            std::ifstream in(item.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            tree[relative] = bytes.str();
        }
    }
    return tree;
}

std::string Utf8(const TempDir& directory)
{
    return driver::Narrow(directory.Path());
}

const std::string kPackageSha256 = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
const std::string kFullJournal = EncodeRecord({"TaviloInstallJournal", "2"}) + EncodeRecord({"mkdir", "1", "New"}) +
                                 EncodeRecord({"move", "2", "Data\\a.dll", "Temp\\InstallJournal\\2.bak"}) +
                                 EncodeRecord({"move", "3", "Temp\\Package\\a.dll", "Data\\a.dll"}) +
                                 EncodeRecord({"undone", "3"}) +
                                 EncodeRecord({"commit", "1.0\t\"tab\"\n%", kPackageSha256});

}  // namespace

// ---- the journal ----------------------------------------------------------------------------------------------

TEST(Journal, RecordsCarryAnyTextAndRefuseAnyChange)
{
    const std::vector<std::string> fields = {"move", "7", "数据\\a b.dll", "tab\there, line\r\nend, 100%", ""};
    const std::string line = EncodeRecord(fields);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one record, one line";
    EXPECT_EQ(DecodeRecord(std::string_view(line).substr(0, line.size() - 1)), fields);

    for (size_t i = 0; i + 1 < line.size(); ++i) {
        std::string changed = line.substr(0, line.size() - 1);
        changed[i] ^= 0x01;
        EXPECT_FALSE(DecodeRecord(changed)) << "a change at byte " << i << " went unnoticed";
    }
}

// A crash can cut the journal's last write anywhere: what is read is always the records written whole before it.
TEST(Journal, ACutAtAnyByteReadsAsTheWholeRecordsBeforeIt)
{
    const JournalContents full = ParseJournal(kFullJournal);
    ASSERT_EQ(full.steps.size(), 3u);
    EXPECT_EQ(full.steps[1], (JournalStep{JournalStep::Kind::Move, 2, "Data\\a.dll", "Temp\\InstallJournal\\2.bak"}));
    EXPECT_EQ(full.committedVersion, "1.0\t\"tab\"\n%");
    EXPECT_EQ(full.committedPackage, kPackageSha256);
    EXPECT_EQ(full.undone, std::set<unsigned>{3});
    EXPECT_EQ(full.intactLength, kFullJournal.size());

    size_t previousSteps = 0;
    for (size_t cut = 0; cut <= kFullJournal.size(); ++cut) {
        const JournalContents part = ParseJournal(std::string_view(kFullJournal).substr(0, cut));
        ASSERT_LE(part.intactLength, cut);
        ASSERT_LE(part.steps.size(), full.steps.size());
        EXPECT_TRUE(std::equal(part.steps.begin(), part.steps.end(), full.steps.begin())) << "cut at " << cut;
        EXPECT_GE(part.steps.size(), previousSteps);
        previousSteps = part.steps.size();
        // What follows the intact length is the torn record: reading it again gives the same.
        EXPECT_EQ(ParseJournal(std::string_view(kFullJournal).substr(0, part.intactLength)).steps.size(),
                  part.steps.size());
    }
    // Garbage after a torn record (the disk's zeros after a power loss) hides nothing behind it either.
    const std::string torn = kFullJournal.substr(0, 60) + std::string(40, '\0') + EncodeRecord({"mkdir", "9", "X"});
    EXPECT_LT(ParseJournal(torn).steps.size(), 2u);
}

TEST(Journal, AFileThatIsNotOurJournalIsRefused)
{
    EXPECT_THROW(ParseJournal(EncodeRecord({"SomethingElse", "1"})), EJournalCorrupt);
    EXPECT_THROW(ParseJournal(EncodeRecord({"TaviloInstallJournal", "1"})), EJournalCorrupt);
    EXPECT_THROW(ParseJournal(EncodeRecord({"TaviloInstallJournal", "2"}) + EncodeRecord({"chmod", "1", "x"})),
                 EJournalCorrupt);
    EXPECT_THROW(ParseJournal(EncodeRecord({"TaviloInstallJournal", "2"}) + EncodeRecord({"mkdir", "0", "x"})),
                 EJournalCorrupt);
}

// A commit record may reach the disk although its write failed; the rollback that follows then records its undo
// steps after it, and those say that the install was undone. A step after a commit is never written.
TEST(Journal, ACommitFollowedByUndoRecordsIsNoCommit)
{
    const std::string header = EncodeRecord({"TaviloInstallJournal", "2"});
    const std::string steps =
        EncodeRecord({"mkdir", "1", "New"}) + EncodeRecord({"move", "2", "Temp\\Package\\a.dll", "New\\a.dll"});
    const std::string commit = EncodeRecord({"commit", "2.0", kPackageSha256});
    struct Case {
        const char* what;
        std::string records;
        bool committed;
    };
    const std::vector<Case> cases = {
        {"the commit last", steps + commit, true},
        {"one undo record after it", steps + commit + EncodeRecord({"undone", "2"}), false},
        {"every step undone after it", steps + commit + EncodeRecord({"undone", "2"}) + EncodeRecord({"undone", "1"}),
         false},
        {"the commit's own record torn", steps + commit.substr(0, commit.size() - 3), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const JournalContents contents = ParseJournal(header + c.records);
        EXPECT_EQ(contents.committedVersion.has_value(), c.committed);
        EXPECT_EQ(contents.committedPackage.empty(), !c.committed);
        EXPECT_EQ(contents.steps.size(), 2u);
    }
    EXPECT_THROW(ParseJournal(header + steps + commit + EncodeRecord({"mkdir", "3", "Later"})), EJournalCorrupt);
}

// ---- names and paths from a package ---------------------------------------------------------------------------

TEST(SafeNames, BareFileNamesOnly)
{
    for (const char* good : {"a.dll", "中文.txt", " leading space.txt", "a..b", "Update.xml.bak", "com10.txt"}) {
        EXPECT_FALSE(FileNameProblem(good)) << good;
    }
    for (const char* bad : {"",           ".",
                            "..",         "..\\a",
                            "a/b",        "C:a",
                            "a:stream",   "nul",
                            "NUL.txt",    "com1.dll",
                            "Lpt9",       "con .txt",
                            "a?",         "a*",
                            "a<b",        "a|b",
                            "a\"b",       "tab\there",
                            "trailing.",  "trailing ",
                            "CLOCK$",     "COM\xC2\xB9.dll",
                            "lpt\xC2\xB3"}) {
        EXPECT_TRUE(FileNameProblem(bad)) << bad;
    }
}

TEST(SafeNames, DestinationsStayInsideTheProgramDirectory)
{
    for (const char* good : {"", "Data\\", "Data", "Skins\\Blue\\", "Data/Sub/", "中文\\目录"}) {
        EXPECT_FALSE(DirectoryProblem(good)) << good;
    }
    for (const char* bad :
         {"\\", "\\x\\", "/x/", "\\\\server\\share\\", "C:\\x\\", "C:x\\", "D:", "..", "..\\", "a\\..\\..\\",
          "a/../../", "a\\.\\", "a\\\\b\\", "aux\\", "a\\b.\\", "a?\\", "Data\\COM\xC2\xB2\\"}) {
        EXPECT_TRUE(DirectoryProblem(bad)) << bad;
    }
    // A path written without its trailing backslash still names a directory.
    EXPECT_EQ(NormalizeDirectory("Data"), "Data\\");
    EXPECT_EQ(NormalizeDirectory("Data/Sub"), "Data\\Sub\\");
    EXPECT_EQ(NormalizeDirectory("Skins\\Blue\\"), "Skins\\Blue\\");
    EXPECT_EQ(NormalizeDirectory(""), "");

    EXPECT_TRUE(IsSafeRelativePath("Temp\\InstallJournal\\3.bak"));
    for (const char* bad : {"", "..\\x", "a\\..\\..\\x", "C:\\x", "\\x", "a\\", "a\\\\b"}) {
        EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
    }
}

// ---- the transaction ------------------------------------------------------------------------------------------

namespace {

class Transaction : public ::testing::Test {
protected:
    Transaction()
    {
        directory.WriteFile(L"Data\\old.dll", "old");
        directory.WriteFile(L"Temp\\Package\\old.dll", "new old.dll");
        directory.WriteFile(L"Temp\\Package\\new.txt", "new file");
        directory.WriteFile(L"Temp\\Package\\deep.txt", "deep file");
        directory.WriteFile(L"Temp\\Package\\update.xml", "<update/>");
    }

    // New nested directories, a replaced file and a new file.
    void InstallEverything(InstallTransaction& transaction)
    {
        transaction.MakeDirectories("A\\B\\");
        transaction.PlaceUnpackedFile("deep.txt", "A\\B\\");
        transaction.MakeDirectories("Data\\");
        transaction.PlaceUnpackedFile("old.dll", "Data\\");
        transaction.MakeDirectories("");
        transaction.PlaceUnpackedFile("new.txt", "");
    }

    TempDir directory;
    std::string root = Utf8(directory);
    FileOperations files;
};

}  // namespace

TEST_F(Transaction, RollBackPutsBackExactlyWhatWasThere)
{
    const auto before = Tree(directory);
    InstallTransaction transaction = InstallTransaction::Begin(files, root);
    InstallEverything(transaction);
    EXPECT_EQ(directory.ReadFile(L"Data\\old.dll"), "new old.dll");
    EXPECT_TRUE(transaction.HasChangesToUndo());

    transaction.RollBack();
    EXPECT_EQ(Tree(directory), before) << "the unpacked copies go back to the staging folder too";
}

TEST_F(Transaction, AFinishedInstallLeavesNoJournalOrBackup)
{
    InstallTransaction transaction = InstallTransaction::Begin(files, root);
    InstallEverything(transaction);
    transaction.Commit("2.0", kPackageSha256);
    ASSERT_TRUE(transaction.Finish());

    EXPECT_EQ(directory.ReadFile(L"A\\B\\deep.txt"), "deep file");
    EXPECT_EQ(directory.ReadFile(L"Data\\old.dll"), "new old.dll");
    EXPECT_EQ(directory.ReadFile(L"new.txt"), "new file");
    EXPECT_FALSE(directory.Exists(L"Temp\\InstallJournal"));
    EXPECT_FALSE(InstallTransaction::Resume(files, root).has_value());
}

// A backup still in use when the install finishes (a library a running program has loaded) stays behind; it
// neither blocks nor collides with the next install, and goes once it is free.
TEST_F(Transaction, ABackupStillInUseIsLeftForLaterWithoutBlockingTheNextInstall)
{
    InstallTransaction first = InstallTransaction::Begin(files, root);
    InstallEverything(first);
    first.Commit("2.0", kPackageSha256);
    std::wstring held;
    for (const auto& item : fs::directory_iterator(fs::path(directory / L"Temp\\InstallJournal"))) {
        if (item.path().extension() == L".bak") held = item.path().wstring();
    }
    ASSERT_FALSE(held.empty());
    HANDLE lock = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(first.Finish());
    EXPECT_FALSE(directory.Exists(L"Temp\\InstallJournal\\journal.log"));
    EXPECT_TRUE(fs::exists(held));

    directory.WriteFile(L"Temp\\Package\\old.dll", "newer old.dll");
    InstallTransaction second = InstallTransaction::Begin(files, root);
    second.MakeDirectories("X\\Y\\Z\\");  // three steps, so that the backup's turn comes where the held one's did
    second.PlaceUnpackedFile("old.dll", "Data\\");
    second.RollBack();
    EXPECT_EQ(directory.ReadFile(L"Data\\old.dll"), "new old.dll") << "the second backup took a name of its own";

    CloseHandle(lock);
    InstallTransaction::RemoveLeftovers(files, root);
    EXPECT_FALSE(directory.Exists(L"Temp\\InstallJournal"));
}

// The process dies with everything done but not committed: the next run finds the journal and undoes it all.
TEST_F(Transaction, AJournalLeftBehindIsRolledBackByTheNextRun)
{
    const auto before = Tree(directory);
    {
        InstallTransaction transaction = InstallTransaction::Begin(files, root);
        InstallEverything(transaction);
    }  // gone without a word, as in a crash
    FileOperations nextRun;
    auto interrupted = InstallTransaction::Resume(nextRun, root);
    ASSERT_TRUE(interrupted.has_value());
    EXPECT_FALSE(interrupted->Committed());
    EXPECT_TRUE(interrupted->HasChangesToUndo());
    interrupted->RollBack();
    EXPECT_EQ(Tree(directory), before);
}

TEST_F(Transaction, ACommittedJournalLeftBehindIsFinishedNotUndone)
{
    {
        InstallTransaction transaction = InstallTransaction::Begin(files, root);
        InstallEverything(transaction);
        transaction.Commit("2.0", kPackageSha256);
    }
    auto interrupted = InstallTransaction::Resume(files, root);
    ASSERT_TRUE(interrupted.has_value());
    ASSERT_TRUE(interrupted->Committed());
    EXPECT_EQ(interrupted->CommittedVersion(), "2.0");
    EXPECT_TRUE(interrupted->Finish());
    EXPECT_EQ(directory.ReadFile(L"Data\\old.dll"), "new old.dll");
    EXPECT_FALSE(directory.Exists(L"Temp\\InstallJournal"));
}

// What an install into the suite's part of Temp\ and the descriptor it leaves there record is this program's own:
// a crash in the middle is undone by the next run, the older descriptor back in its place.
TEST_F(Transaction, AnInterruptedInstallIntoTempAndItsDescriptorAreUndone)
{
    directory.WriteFile(L"Temp\\Package\\cache.dat", "new cache");
    directory.WriteFile(L"Temp\\update.xml", "<update><version>1.0</version></update>");
    const auto before = Tree(directory);
    {
        InstallTransaction transaction = InstallTransaction::Begin(files, root);
        InstallEverything(transaction);
        transaction.MakeDirectories("Temp\\Cache\\");
        transaction.PlaceUnpackedFile("cache.dat", "Temp\\Cache\\");
        transaction.PlaceDescriptor();
        EXPECT_EQ(directory.ReadFile(L"Temp\\update.xml"), "<update/>");
    }  // gone without a word, as in a crash
    FileOperations nextRun;
    auto interrupted = InstallTransaction::Resume(nextRun, root);
    ASSERT_TRUE(interrupted.has_value());
    interrupted->RollBack();
    EXPECT_EQ(Tree(directory), before);
}

// Whatever a journal says, it cannot make the program move files outside its directory.
TEST_F(Transaction, AJournalPointingOutsideTheProgramDirectoryIsRefusedUntouched)
{
    directory.WriteFile(L"Temp\\InstallJournal\\journal.log",
                        EncodeRecord({"TaviloInstallJournal", "2"}) +
                            EncodeRecord({"move", "1", "..\\outside.txt", "Temp\\Package\\new.txt"}));
    const auto before = Tree(directory);
    try {
        InstallTransaction::Resume(files, root);
        FAIL() << "the journal was accepted";
    } catch (const ERollbackError& error) {
        EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_FILE_CORRUPT));
        EXPECT_EQ(error.Path(), root + "Temp\\InstallJournal\\journal.log");
    }
    EXPECT_EQ(Tree(directory), before);
}

// Journals this program never writes: each is refused before anything is touched, at every try, naming the
// journal so that support can find it.
TEST_F(Transaction, AJournalOfStepsThisProgramNeverWritesIsRefusedAtEveryTry)
{
    using Records = std::vector<std::vector<std::string>>;
    const std::pair<const char*, Records> cases[] = {
        {"a destination moved elsewhere than its backup", {{"move", "1", "Data\\old.dll", "Temp\\Package\\x"}}},
        {"a backup under another step's name", {{"move", "1", "Data\\old.dll", "Temp\\InstallJournal\\7.bak"}}},
        {"a file of Temp\\ moved aside", {{"move", "1", "Temp\\Package\\new.txt", "Temp\\InstallJournal\\1.bak"}}},
        {"an unpacked file placed under another name", {{"move", "1", "Temp\\Package\\new.txt", "Data\\old.dll"}}},
        {"an unpacked file placed in the journal's folder",
         {{"move", "1", "Temp\\Package\\new.txt", "Temp\\InstallJournal\\new.txt"}}},
        {"an unpacked file placed over the package", {{"move", "1", "Temp\\Package\\Quellis.sky", "Quellis.sky"}}},
        {"a file from outside the staging folder placed", {{"move", "1", "Data\\old.dll", "old.dll"}}},
        {"the descriptor placed elsewhere than Temp\\", {{"move", "1", "Temp\\Package\\update.xml", "update.xml"}}},
        {"a payload placed as Temp\\update.xml", {{"move", "1", "Temp\\Package\\new.txt", "Temp\\update.xml"}}},
        {"a folder made where the staging folder belongs", {{"mkdir", "1", "Temp\\Package"}}},
        {"a folder made in the journal's folder", {{"mkdir", "1", "Temp\\InstallJournal\\A"}}},
        {"steps out of order", {{"mkdir", "2", "A"}, {"mkdir", "1", "B"}}},
        {"an undone step never recorded", {{"mkdir", "1", "A"}, {"undone", "2"}}},
        {"a commit without the package's SHA-256", {{"commit", "2.0", "not a hash"}}},
    };
    const std::string journal = root + "Temp\\InstallJournal\\journal.log";
    for (const auto& [what, records] : cases) {
        SCOPED_TRACE(what);
        std::string text = EncodeRecord({"TaviloInstallJournal", "2"});
        for (const auto& record : records) text += EncodeRecord(record);
        directory.WriteFile(L"Temp\\InstallJournal\\journal.log", text);
        const auto before = Tree(directory);
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                InstallTransaction::Resume(files, root);
                ADD_FAILURE() << "the journal was accepted";
            } catch (const ERollbackError& error) {
                EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_FILE_CORRUPT));
                EXPECT_NE(install_text::RecoveryFailed(error).find(journal), std::string::npos);
            }
            EXPECT_EQ(Tree(directory), before);
        }
    }
}

// Someone else has put a file where one of ours was to go back: the rollback stops rather than guess, and the
// journal stays for another try.
TEST_F(Transaction, ARollbackThatCannotDecideStopsAndKeepsTheJournal)
{
    InstallTransaction transaction = InstallTransaction::Begin(files, root);
    InstallEverything(transaction);
    directory.WriteFile(L"Temp\\Package\\new.txt", "someone else's");
    try {
        transaction.RollBack();
        FAIL() << "the rollback went on";
    } catch (const ERollbackError& error) {
        EXPECT_EQ(error.Path(), root + "new.txt");
        EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_ALREADY_EXISTS));
    }
    EXPECT_TRUE(directory.Exists(L"Temp\\InstallJournal\\journal.log"));
    EXPECT_EQ(directory.ReadFile(L"new.txt"), "new file") << "neither file was thrown away";
}

// A new journal never overwrites one that is still waiting to be dealt with.
TEST_F(Transaction, BeginRefusesWhileAJournalIsWaiting)
{
    {
        InstallTransaction transaction = InstallTransaction::Begin(files, root);
        InstallEverything(transaction);
    }
    try {
        InstallTransaction::Begin(files, root);
        FAIL() << "a second journal was started";
    } catch (const EInstallStepError& error) {
        EXPECT_EQ(error.GetStep(), EInstallStepError::Step::WriteJournal);
    }
    EXPECT_TRUE(InstallTransaction::Resume(files, root)->HasChangesToUndo());
}

// ---- the file operations --------------------------------------------------------------------------------------

// Only the \\?\ form keeps a trailing dot (Windows and Wine drop it from any other path): a directory made with
// one proves the form reached the system, which is what lets paths beyond MAX_PATH work on Windows.
TEST(FileOperations, HandTheLongPathFormToTheSystem)
{
    TempDir directory;
    FileOperations files;
    files.MakeDirectory(Utf8(directory) + "probe.");
    const std::wstring probe = L"\\\\?\\" + directory.Path() + L"probe.";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((L"\\\\?\\" + directory.Path() + L"probe*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(found.cFileName, L"probe.");
    FindClose(search);
    // Only the same form removes it again; nothing else in the test tree could.
    EXPECT_TRUE(RemoveDirectoryW(probe.c_str()));
    EXPECT_EQ(ToApiPath(Utf8(directory) + "x"), L"\\\\?\\" + directory.Path() + L"x");
}

TEST(FileOperations, AMoveNeverReplacesAndAFailureCarriesTheSystemsNumber)
{
    TempDir directory;
    directory.WriteFile(L"a", "a");
    directory.WriteFile(L"b", "b");
    FileOperations files;
    try {
        files.Move(Utf8(directory) + "a", Utf8(directory) + "b");
        FAIL() << "the move replaced a file";
    } catch (const EFileOperationError& error) {
        EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_ALREADY_EXISTS));
        EXPECT_EQ(error.Path(), Utf8(directory) + "a");
    }
    EXPECT_EQ(directory.ReadFile(L"a"), "a");
    EXPECT_EQ(directory.ReadFile(L"b"), "b");
}

// A folder linked to /dev/shm is another volume under Wine. A file moves there as a verified copy with its
// attributes, and the rollback undoes both states a move cut short can leave: a partial copy beside the
// destination, and the whole file under both names.
TEST(FileOperations, AMoveAcrossVolumesKeepsTheFileWholeAndItsCutsAreUndone)
{
    if (!install_test::UnderWine()) GTEST_SKIP() << "the other volume is a host file system";
    TempDir directory;
    install_test::OtherVolumeFolder other(directory.Path());
    install_test::HostLink link(directory / L"Bin", other.Path());
    ASSERT_TRUE(link.Made());
    directory.WriteFile(L"Bin\\old.dll", "old");
    ASSERT_TRUE(SetFileAttributesW((directory / L"Bin\\old.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    directory.WriteFile(L"Temp\\Package\\old.dll", "new");
    const auto before = Tree(directory);
    const std::string root = Utf8(directory);

    FileOperations files;
    InstallTransaction transaction = InstallTransaction::Begin(files, root);
    transaction.PlaceUnpackedFile("old.dll", "Bin\\");
    EXPECT_EQ(directory.ReadFile(L"Bin\\old.dll"), "new");
    EXPECT_FALSE(directory.Exists(L"Temp\\Package\\old.dll"));
    const DWORD backup = GetFileAttributesW((directory / L"Temp\\InstallJournal\\1.bak").c_str());
    EXPECT_TRUE(backup != INVALID_FILE_ATTRIBUTES && (backup & FILE_ATTRIBUTE_READONLY));

    directory.WriteFile(L"Temp\\Package\\old.dll", "new");   // as if the source's deletion had never come
    directory.WriteFile(L"Bin\\old.dll.tavilo-copy", "ne");  // as if an earlier copy had been cut
    transaction.RollBack();
    EXPECT_EQ(Tree(directory), before);
    EXPECT_TRUE(GetFileAttributesW((directory / L"Bin\\old.dll").c_str()) & FILE_ATTRIBUTE_READONLY);
}

// ---- who holds a file -----------------------------------------------------------------------------------------

TEST(FileHolders, TheRestartManagerNamesThisProcessOrNobody)
{
    TempDir directory;
    directory.WriteFile(L"held.dll", "x");
    HANDLE held = CreateFileW((directory / L"held.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const auto holders = ProgramsHoldingFile(Utf8(directory) + "held.dll");
    CloseHandle(held);

    std::string answer;
    for (const auto& holder : holders) answer += holder + "; ";
    RecordProperty("restart_manager_answer", holders.empty() ? "nobody" : answer);
    std::cout << "the Restart Manager names as holders: " << (holders.empty() ? "nobody" : answer) << "\n";
    for (const auto& holder : holders) {
        EXPECT_NE(holder.find("(PID " + std::to_string(GetCurrentProcessId()) + ")"), std::string::npos) << holder;
    }
    EXPECT_TRUE(MeansFileInUse(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(MeansFileInUse(ERROR_DISK_FULL));
}

TEST(InstallTexts, SystemReasonsCarryTheirNumber)
{
    const std::string reason = SystemReason(ERROR_SHARING_VIOLATION);
    EXPECT_NE(reason.find("（错误 32）"), std::string::npos) << reason;
    EXPECT_GT(reason.find("（错误 32）"), 0u) << "the system's own words come first: " << reason;
    EXPECT_EQ(SystemReason(0x2FFFFFFF), "错误 805306367");
}
