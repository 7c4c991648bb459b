// The install as a transaction, cut at every file operation: UpdateWithFaults.exe (the program built with its
// fault seam) is killed at, or fails at, operation k of a representative install for every k, and the program
// directory must then hold exactly the old set of files or, after a rerun, exactly the new set, byte for byte,
// with no journal or backup left. The same for a cut during the rollback and during the recovery itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <set>

#include "InstallTestSupport.h"
#include "UpdateDescriptor.h"

using namespace install_test;

namespace {

constexpr const wchar_t* kFaulty = L"UpdateWithFaults.exe";

// Nested new directories, a replaced file, a new file in the program directory, one in the suite's part of Temp\.
const std::vector<Payload> kFiles = {
    {"new.dll", "", "a new library"},
    {"old.dll", "Data\\", "old.dll, version 2"},
    {"cache.dat", "Temp\\Cache\\", "the suite's cache"},
    {"deep.txt", "Fresh\\Deeper\\", "three levels down"},
};

// The descriptor an older updater left in Temp\, which the install replaces with its own as one of its steps.
const std::string kOlderDescriptor = "<update><version>6.0</version><files/></update>";

std::string DescriptorOf(const std::string& version, const std::vector<Payload>& files)
{
    std::vector<PackageFile> entries;
    for (const Payload& file : files) entries.push_back({file.name, file.path});
    return ComposeDescriptor(version, entries);
}

// The program directory's picture together with the descriptor left in Temp\.
Picture State(const TempDir& directory)
{
    Picture picture = TakePicture(directory);
    picture["Temp\\update.xml"] =
        directory.Exists(L"Temp\\update.xml") ? directory.ReadFile(L"Temp\\update.xml") : "(none)";
    return picture;
}

// Failures recorded so far in the running test.
int FailureCount()
{
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int failures = 0;
    for (int i = 0; i < result->total_part_count(); ++i) failures += result->GetTestPartResult(i).failed();
    return failures;
}

const std::wstring kUndone = L"上次的升级被中断，已撤销它所做的全部更改。";
const std::wstring kCompleted = L"上次的升级已经完成。";
const std::string kOldVersion = "7.0";
const std::string kNewVersion = "8.0";

// The picture after the install of kFiles over `before`.
Picture Installed(Picture before)
{
    before.erase("Quellis.sky");
    before["Fresh\\"] = "";
    before["Fresh\\Deeper\\"] = "";
    before["Temp\\Cache\\"] = "";
    for (const Payload& file : kFiles) before[file.path + file.name] = file.bytes;
    before["Temp\\update.xml"] = DescriptorOf(kNewVersion, kFiles);
    return before;
}

// Whether a trace line ("K<TAB>operation<TAB>path...") is this operation on a path ending so.
bool Is(const std::string& line, const std::string& operation, const std::string& pathEnd)
{
    const size_t start = line.find("\t" + operation + "\t");
    if (start == std::string::npos) return false;
    const std::string path = line.substr(start + operation.size() + 2);
    return path.size() >= pathEnd.size() && path.compare(path.size() - pathEnd.size(), pathEnd.size(), pathEnd) == 0;
}

bool Any(const std::vector<std::string>& lines, const std::string& operation, const std::string& pathEnd)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return Is(line, operation, pathEnd); });
}

// What the next click does after the runs so far.
enum class Outcome {
    Installs,            // nothing to undo: straight to "升级成功!"
    UndoneThenInstalls,  // a recorded change undone, said so, then the install
    Completed,           // the commit record whole, the journal still there: "上次的升级已经完成。…"
    NoPackage,           // the committed install had removed its journal: "未检查到升级程序!"
};

const char* Name(Outcome outcome)
{
    static const char* const names[] = {"installs", "undone, then installs", "completed", "no package"};
    return names[static_cast<int>(outcome)];
}

// The outcome that the operations of the runs call for. `done` are the operations that happened; `stop` is the
// last one of the last run, where it was killed (before it happened) or failed.
Outcome ExpectedOutcome(const std::vector<std::string>& done, const std::string& stop)
{
    // The package is deleted only once the commit record is whole.
    const bool committed = Any(done, "delete", "Quellis.sky") || Is(stop, "delete", "Quellis.sky");
    if (Any(done, "delete", "journal.log")) return committed ? Outcome::NoPackage : Outcome::Installs;
    if (committed) return Outcome::Completed;
    // Uncommitted, a journal is deleted only once every change in it is undone and recorded so.
    if (Is(stop, "delete", "journal.log")) return Outcome::Installs;
    // The journal's first record is its header: a change is on record once a second record is whole.
    const auto writes = std::count_if(
        done.begin(), done.end(), [](const std::string& line) { return line.find("\twrite\t") != std::string::npos; });
    return writes >= 2 ? Outcome::UndoneThenInstalls : Outcome::Installs;
}

// What the click showing its box now wrote to the support log: its lines from its start, the log's last.
std::vector<std::string> ThisClicksEvents(const TempDir& directory)
{
    const std::vector<std::string> events = SupportLogEvents(directory);
    const auto start = std::find_if(events.rbegin(), events.rend(),
                                    [](const std::string& event) { return event.rfind("start: ", 0) == 0; });
    return {start == events.rend() ? events.begin() : std::prev(start.base()), events.end()};
}

class EveryStep : public ::testing::Test {
protected:
    // A program directory as it is before the install: old.dll in Data\, the package beside the program, the
    // version record at the old version.
    struct Scene {
        ProgramDir directory;
        LocalVersionRecord record{kOldVersion};
        Picture oldSet;
        Picture newSet;
        std::vector<std::string> done;  // the file operations of the runs so far that happened
        std::string stop;               // the last run's last operation: killed before it, or failed
        Scene()
        {
            directory.CopyFromBin(kFaulty);
            directory.WriteFile(L"Data\\old.dll", "old.dll, version 1");
            directory.WriteFile(L"Temp\\update.xml", kOlderDescriptor);
            WritePackage(directory, kNewVersion, kFiles);
            oldSet = State(directory);
            newSet = Installed(oldSet);
        }
        void Ran(const std::vector<std::string>& trace)
        {
            if (trace.empty()) return;
            if (!stop.empty()) done.push_back(stop);
            done.insert(done.end(), trace.begin(), trace.end() - 1);
            stop = trace.back();
        }
        std::vector<std::string> Versions() const { return record.Versions(); }
    };

    std::wstring Traced(const std::wstring& arguments) const
    {
        return arguments + L" --trace=\"" + (traces / L"trace.txt") + L"\"";
    }
    std::vector<std::string> TakeTrace() const
    {
        auto lines = ReadTrace(traces / L"trace.txt");
        traces.Remove(L"trace.txt");
        return lines;
    }

    // Every file operation of an install that nothing disturbs, in order.
    std::vector<std::string> OperationsOfACleanInstall()
    {
        Scene scene;
        Updater run(scene.directory, kFaulty, Traced(L""));
        run.ClickStart();
        const auto box = run.NextBox();
        EXPECT_TRUE(box && box->text == L"升级成功!") << (box ? Describe(*box) : "no box");
        EXPECT_EQ(scene.Versions(), std::vector<std::string>{kNewVersion});
        return TakeTrace();
    }

    // Runs the test build with these arguments and clicks: true when it died at its cut point, false when it
    // showed a box first (the box is handed back). The scene keeps the run's operations.
    bool DiesAtItsCut(Scene& scene, const std::wstring& arguments, std::optional<MessageBoxInfo>& box)
    {
        Updater run(scene.directory, kFaulty, Traced(arguments));
        run.ClickStart();
        box = run.NextBox();
        scene.Ran(TakeTrace());
        if (box) return false;
        EXPECT_TRUE(run.Ended());
        EXPECT_EQ(run.ExitCode(), Updater::kKilledExitCode);
        return true;
    }

    // The next click after a cut: it does what the last operation of the runs calls for, and the new set is there
    // after it. By default the test build, unhindered, makes the click, as it writes the version record where the
    // test reads it; the release writes to the Access database, so its record is not checked. True when everything
    // ended as it must.
    // `expected` overrides what the operations call for, where a run's failures make the trace alone ambiguous.
    bool RecoversAtTheNextClick(const Scene& scene, const std::wstring& program = kFaulty,
                                std::optional<Outcome> expectedOutcome = std::nullopt)
    {
        const bool recordReadable = program == kFaulty;
        const int failuresBefore = FailureCount();
        const Outcome expected = expectedOutcome.value_or(ExpectedOutcome(scene.done, scene.stop));
        SCOPED_TRACE(std::string("expected: ") + Name(expected));
        Updater app(scene.directory, program);
        app.ClickStart();
        auto box = app.NextBox();
        if (!box) {
            ADD_FAILURE() << "no message box after the recovery click";
            return false;
        }
        switch (expected) {
        case Outcome::UndoneThenInstalls:
            if (box->text != kUndone) {
                ADD_FAILURE() << "expected the notice that the interrupted install was undone: " << Describe(*box);
                return false;
            }
            EXPECT_EQ(box->icon, BoxIcon::Information);
            EXPECT_EQ(FirstMissingInOrder(ThisClicksEvents(scene.directory),
                                          {"recovery: an interrupted install's journal found", "rollback: undoing",
                                           "rollback: done", "s: " + Narrow(kUndone)}),
                      "");
            EXPECT_EQ(Difference(scene.oldSet, State(scene.directory)), "") << "after the rollback";
            EXPECT_TRUE(JournalLeftovers(scene.directory).empty());
            EXPECT_EQ(scene.Versions(), std::vector<std::string>{kOldVersion}) << "after the rollback";
            box->Dismiss();
            box = app.NextBox();
            EXPECT_TRUE(box && box->text == L"升级成功!") << (box ? Describe(*box) : "no box after the rerun");
            break;
        case Outcome::Installs:
            EXPECT_EQ(box->text, L"升级成功!") << Describe(*box);
            break;
        case Outcome::Completed:
            // Finished, and the package deleted if it was still there: one click, one message. The click after it
            // is the sentinel: its answer must be the next box.
            EXPECT_EQ(box->text.rfind(kCompleted, 0), 0u) << Describe(*box);
            EXPECT_EQ(FirstMissingInOrder(ThisClicksEvents(scene.directory),
                                          {"recovery: finishing the committed install of version " + kNewVersion,
                                           "s: " + Narrow(kCompleted)}),
                      "");
            box->Dismiss();
            app.ClickStart();
            box = app.NextBox();
            EXPECT_TRUE(box && box->text == L"未检查到升级程序!") << (box ? Describe(*box) : "no box");
            break;
        case Outcome::NoPackage:
            EXPECT_EQ(box->text, L"未检查到升级程序!") << Describe(*box);
            break;
        }
        EXPECT_EQ(Difference(scene.newSet, State(scene.directory)), "") << "after the rerun";
        EXPECT_TRUE(JournalLeftovers(scene.directory).empty());
        if (recordReadable) {
            EXPECT_EQ(scene.Versions(), std::vector<std::string>{kNewVersion});
        }
        return FailureCount() == failuresBefore;
    }

    static unsigned IndexOf(const std::vector<std::string>& trace, const std::string& operation,
                            const std::string& pathEnd)
    {
        unsigned found = 0;
        for (unsigned i = 0; i < trace.size(); ++i) {
            if (Is(trace[i], operation, pathEnd)) found = i + 1;
        }
        return found;  // the last one, counted from 1; 0 when there is none
    }

    // The commit record's write: the last journal write before the package goes (counted from 1; 0 when none).
    static unsigned CommitIndex(const std::vector<std::string>& trace)
    {
        const unsigned packageDeletion = IndexOf(trace, "delete", "Quellis.sky");
        unsigned commit = 0;
        for (unsigned i = 1; i < packageDeletion; ++i) {
            if (trace[i - 1].find("\twrite\t") != std::string::npos) commit = i;
        }
        return commit;
    }

    // A sweep of kills: how many cuts it made and how many of them the next click left clean. Every one must be.
    struct CutTally {
        unsigned cutPoints = 0;
        unsigned clean = 0;
        void Count(bool endedClean)
        {
            ++cutPoints;
            if (endedClean) ++clean;
        }
    };
    static void ExpectEveryCutClean(const char* sweep, const CutTally& tally, unsigned atLeast)
    {
        std::cout << sweep << ": " << tally.cutPoints << " cut points, " << tally.clean << " ended clean\n";
        RecordProperty("cut_points", static_cast<int>(tally.cutPoints));
        RecordProperty("ended_clean", static_cast<int>(tally.clean));
        EXPECT_GE(tally.cutPoints, atLeast) << "fewer operations than the representative install has";
        EXPECT_EQ(tally.clean, tally.cutPoints);
    }

    TempDir traces;
};

}  // namespace

TEST_F(EveryStep, AKillAtAnyFileOperationIsUndoneOrFinishedAtTheNextClick)
{
    CutTally tally;
    std::set<Outcome> outcomes;
    for (unsigned k = 1;; ++k) {
        Scene scene;
        std::optional<MessageBoxInfo> box;
        if (!DiesAtItsCut(scene, L"--kill-at=" + std::to_wstring(k), box)) {
            // Past the last operation: the install ran to its end.
            EXPECT_TRUE(box && box->text == L"升级成功!") << (box ? Describe(*box) : "no box");
            EXPECT_EQ(Difference(scene.newSet, State(scene.directory)), "");
            EXPECT_EQ(scene.Versions(), std::vector<std::string>{kNewVersion});
            break;
        }
        SCOPED_TRACE("killed at " + scene.stop);
        outcomes.insert(ExpectedOutcome(scene.done, scene.stop));
        tally.Count(RecoversAtTheNextClick(scene));
        if (k > 200) break;
    }
    EXPECT_EQ(outcomes.size(), 4u) << "a cut that calls for each of the four outcomes";
    ExpectEveryCutClean("kill at every step", tally, 15);
}

TEST_F(EveryStep, AFailureAtAnyFileOperationLeavesTheOldSetOrAFinishedInstall)
{
    const auto operations = OperationsOfACleanInstall();
    // The commit record is the last write before the package is deleted: a failure up to it undoes the install,
    // one after it cannot take back an install that is done.
    const unsigned packageDeletion = IndexOf(operations, "delete", "Quellis.sky");
    ASSERT_GT(packageDeletion, 1u);
    std::cout << "the file operations of the representative install:\n";
    for (const std::string& operation : operations) std::cout << "  " << operation << "\n";

    unsigned failurePoints = 0;
    unsigned clean = 0;
    for (unsigned k = 1; k <= operations.size(); ++k) {
        SCOPED_TRACE("failing " + operations[k - 1]);
        const int failuresBefore = FailureCount();
        Scene scene;
        std::optional<MessageBoxInfo> box;
        ASSERT_FALSE(DiesAtItsCut(scene, L"--fail-at=" + std::to_wstring(k), box));
        ASSERT_TRUE(box.has_value());
        ++failurePoints;
        if (k < packageDeletion) {
            EXPECT_EQ(box->icon, BoxIcon::Error) << Describe(*box);
            EXPECT_NE(box->text.find(L"（错误 1117）"), std::wstring::npos) << Describe(*box);
            EXPECT_NE(box->text.find(L"没有做任何更改"), std::wstring::npos) << Describe(*box);
            EXPECT_EQ(Difference(scene.oldSet, State(scene.directory)), "");
            EXPECT_TRUE(JournalLeftovers(scene.directory).empty());
            EXPECT_EQ(scene.Versions(), std::vector<std::string>{kOldVersion}) << "after the rollback";
        } else {
            EXPECT_EQ(box->text, L"升级成功!") << Describe(*box);
            Picture done = scene.newSet;
            if (k == packageDeletion) done["Quellis.sky"] = scene.oldSet.at("Quellis.sky");
            EXPECT_EQ(Difference(done, State(scene.directory)), "");
            EXPECT_EQ(scene.Versions(), std::vector<std::string>{kNewVersion});
            // What could not be tidied up is tidied up by the next click: the journal tells which way.
            const Outcome next = ExpectedOutcome(scene.done, scene.stop);
            EXPECT_TRUE(next == Outcome::Completed || next == Outcome::NoPackage) << Name(next);
            EXPECT_TRUE(RecoversAtTheNextClick(scene));
        }
        if (FailureCount() == failuresBefore) ++clean;
    }
    RecordProperty("failure_points", static_cast<int>(failurePoints));
    RecordProperty("ended_clean", static_cast<int>(clean));
    std::cout << "fail at every step: " << failurePoints << " failure points, " << clean << " ended clean\n";
    EXPECT_EQ(clean, failurePoints);
}

// The last file fails, so the rollback has the most to undo; then the process dies at each of the rollback's own
// operations, and the next click, made with the release, finishes the rollback.
TEST_F(EveryStep, AKillDuringTheRollbackIsFinishedAtTheNextClick)
{
    const auto operations = OperationsOfACleanInstall();
    const unsigned lastPlacement = IndexOf(operations, "move", "deep.txt");
    ASSERT_GT(lastPlacement, 0u);
    const std::wstring failure = L"--fail-at=" + std::to_wstring(lastPlacement);

    CutTally tally;
    for (unsigned k = lastPlacement + 1;; ++k) {
        Scene scene;
        std::optional<MessageBoxInfo> box;
        if (!DiesAtItsCut(scene, failure + L" --kill-at=" + std::to_wstring(k), box)) {
            ASSERT_TRUE(box.has_value());
            EXPECT_NE(box->text.find(L"没有做任何更改"), std::wstring::npos) << Describe(*box);
            EXPECT_EQ(Difference(scene.oldSet, State(scene.directory)), "");
            EXPECT_EQ(scene.Versions(), std::vector<std::string>{kOldVersion}) << "after the rollback";
            break;
        }
        SCOPED_TRACE("killed during the rollback at " + scene.stop);
        tally.Count(RecoversAtTheNextClick(scene, L"Update.exe"));
        if (k > lastPlacement + 100) break;
    }
    ExpectEveryCutClean("kill during the rollback", tally, 5);
}

// A failure inside the rollback itself: the message says the install could not be undone, the journal stays,
// and the next click undoes the rest before it installs.
TEST_F(EveryStep, AFailureDuringTheRollbackIsReportedAndUndoneAtTheNextClick)
{
    const auto operations = OperationsOfACleanInstall();
    const unsigned lastPlacement = IndexOf(operations, "move", "deep.txt");
    ASSERT_GT(lastPlacement, 0u);
    // The rollback's first operations: the record that deep.txt's placement is undone (it never moved), then the
    // removal of the directory made for it.
    for (unsigned k : {lastPlacement + 1, lastPlacement + 2}) {
        Scene scene;
        std::optional<MessageBoxInfo> box;
        ASSERT_FALSE(
            DiesAtItsCut(scene, L"--fail-at=" + std::to_wstring(lastPlacement) + L"," + std::to_wstring(k), box));
        SCOPED_TRACE("rollback failing at " + scene.stop);
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->icon, BoxIcon::Error);
        EXPECT_NE(box->text.find(L"撤销已做的更改时出错"), std::wstring::npos) << Describe(*box);
        EXPECT_EQ(box->text.find(L"没有做任何更改"), std::wstring::npos) << "it must not claim that nothing changed";
        EXPECT_EQ(scene.Versions(), std::vector<std::string>{kOldVersion});
        EXPECT_TRUE(RecoversAtTheNextClick(scene));
    }
}

// The recovery is a rollback too: cut it at each of its operations and the click after that still ends clean.
TEST_F(EveryStep, AKillDuringTheRecoveryIsFinishedAtTheNextClick)
{
    const auto operations = OperationsOfACleanInstall();
    const unsigned lastPlacement = IndexOf(operations, "move", "deep.txt");
    ASSERT_GT(lastPlacement, 0u);

    CutTally tally;
    for (unsigned k = 1;; ++k) {
        Scene scene;
        std::optional<MessageBoxInfo> box;
        // Every file in place, the commit not yet written: the recovery has everything to undo.
        ASSERT_TRUE(DiesAtItsCut(scene, L"--kill-at=" + std::to_wstring(lastPlacement + 1), box));
        if (!DiesAtItsCut(scene, L"--kill-at=" + std::to_wstring(k), box)) {
            EXPECT_TRUE(box && box->text == kUndone) << (box ? Describe(*box) : "no box");
            EXPECT_EQ(scene.Versions(), std::vector<std::string>{kOldVersion}) << "after the rollback";
            break;
        }
        SCOPED_TRACE("recovery killed at " + scene.stop);
        tally.Count(RecoversAtTheNextClick(scene));
        if (k > 100) break;
    }
    ExpectEveryCutClean("kill during the recovery", tally, 5);
}

// A power cut cannot be made under Wine; what it would find is decided by the order of the operations. Every file
// placed is flushed to the disk after its move and before the commit record is written, and no backup goes before
// that record.
TEST_F(EveryStep, EveryPlacedFileIsOnTheDiskBeforeTheCommitAndEveryBackupGoesAfterIt)
{
    const auto operations = OperationsOfACleanInstall();
    const unsigned commit = CommitIndex(operations);
    ASSERT_GT(commit, 0u);
    for (const Payload& file : kFiles) {
        SCOPED_TRACE(file.name);
        const std::string destination = file.path + file.name;
        const unsigned placed = IndexOf(operations, "move", destination);
        const unsigned flushed = IndexOf(operations, "flush", destination);
        ASSERT_GT(placed, 0u);
        EXPECT_GT(flushed, placed) << "flushed after its move";
        EXPECT_LT(flushed, commit) << "flushed before the commit record";
    }
    for (unsigned i = 1; i <= operations.size(); ++i) {
        if (Is(operations[i - 1], "delete", ".bak")) {
            EXPECT_GT(i, commit) << operations[i - 1];
        }
    }
    const unsigned descriptorFlushed = IndexOf(operations, "flush", "Temp\\update.xml");
    EXPECT_GT(descriptorFlushed, 0u);
    EXPECT_LT(descriptorFlushed, commit);
    // Every flush is a file operation of its own, which the every-step tests cut and fail with the rest: one per
    // payload and one for the descriptor kept at Temp\update.xml.
    EXPECT_EQ(std::count_if(operations.begin(), operations.end(),
                            [](const std::string& line) { return line.find("\tflush\t") != std::string::npos; }),
              static_cast<std::ptrdiff_t>(kFiles.size() + 1));
}

// The commit record's write fails after its bytes reached the disk (a flush that fails, say). The journal is cut
// back to its last whole record before the rollback writes anything, so that no click after it can take the
// undone install for a committed one, wherever the rollback is cut; a journal that cannot be cut back stops the
// rollback before it undoes anything, and the next click finishes the install that the journal holds as done.
TEST_F(EveryStep, ACommitWriteThatFailsAfterReachingTheDiskIsCutBackBeforeAnythingIsUndone)
{
    const auto operations = OperationsOfACleanInstall();
    const unsigned commit = CommitIndex(operations);
    ASSERT_GT(commit, 0u);
    const std::wstring failAfter = L"--fail-after-at=" + std::to_wstring(commit);
    const std::wstring cutBack = std::to_wstring(commit + 1);  // the truncation right after the failed write
    const std::wstring retry = std::to_wstring(commit + 2);    // the rollback's own attempt

    struct Case {
        const char* what;
        std::wstring extra;
        bool undone;  // the box says that nothing changed; otherwise that undoing failed
    };
    const std::vector<Case> cases = {
        {"the journal cut back at once", L"", true},
        {"cut back by the rollback", L" --fail-at=" + cutBack, true},
        {"not cut back at all", L" --fail-at=" + cutBack + L"," + retry, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        std::optional<MessageBoxInfo> box;
        ASSERT_FALSE(DiesAtItsCut(scene, failAfter + c.extra, box));
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->icon, BoxIcon::Error);
        EXPECT_NE(box->text.find(L"（错误 1117）"), std::wstring::npos) << Describe(*box);
        if (c.undone) {
            EXPECT_NE(box->text.find(L"没有做任何更改"), std::wstring::npos) << Describe(*box);
            EXPECT_EQ(Difference(scene.oldSet, State(scene.directory)), "");
            EXPECT_TRUE(JournalLeftovers(scene.directory).empty());
            EXPECT_EQ(scene.Versions(), std::vector<std::string>{kOldVersion});
        } else {
            EXPECT_NE(box->text.find(L"撤销已做的更改时出错"), std::wstring::npos) << Describe(*box);
            // Nothing was undone, every file is in place and on the disk: the next click completes the install.
            Updater app(scene.directory, kFaulty);
            app.ClickStart();
            box = app.NextBox();
            ASSERT_TRUE(box.has_value());
            EXPECT_EQ(box->text.rfind(kCompleted, 0), 0u) << Describe(*box);
            EXPECT_EQ(Difference(scene.newSet, State(scene.directory)), "");
            EXPECT_EQ(scene.Versions(), std::vector<std::string>{kNewVersion});
        }
    }

    // A kill at each operation after the failed commit write: the truncation not yet made leaves the commit
    // whole (the next click completes the install); once it is made, every cut leads to the old set again.
    CutTally tally;
    for (unsigned k = commit + 1;; ++k) {
        Scene scene;
        std::optional<MessageBoxInfo> box;
        if (!DiesAtItsCut(scene, failAfter + L" --kill-at=" + std::to_wstring(k), box)) {
            ASSERT_TRUE(box.has_value());
            EXPECT_NE(box->text.find(L"没有做任何更改"), std::wstring::npos) << Describe(*box);
            break;
        }
        SCOPED_TRACE("killed after the failed commit write at " + scene.stop);
        const bool cutBackMade = k > commit + 1;
        tally.Count(
            RecoversAtTheNextClick(scene, kFaulty, cutBackMade ? std::nullopt : std::optional(Outcome::Completed)));
        if (k > commit + 100) break;
    }
    ExpectEveryCutClean("kill after a failed commit write", tally, 5);
}

// A committed install that left its journal (killed just before it deleted the package) is finished at the next
// click. With the package it installed still there, or with none, that is all the click does, in one message; with
// a different package waiting, the old install is finished without a word and the new package installed in the
// same click, which shows only that install's messages.
TEST_F(EveryStep, ACommittedInstallIsFinishedAndADifferentPackageInstalledInTheSameClick)
{
    const auto operations = OperationsOfACleanInstall();
    const unsigned packageDeletion = IndexOf(operations, "delete", "Quellis.sky");
    ASSERT_GT(packageDeletion, 0u);
    const std::vector<Payload> nextFiles = {{"new.dll", "", "a newer library"},
                                            {"next.txt", "Temp\\Cache\\", "the next update"}};
    enum class Waiting { TheInstalledPackage, NoPackage, ADifferentPackage };
    struct Case {
        const char* what;
        Waiting waiting;
    };
    for (const Case& c :
         {Case{"the installed package", Waiting::TheInstalledPackage}, Case{"no package", Waiting::NoPackage},
          Case{"a different package", Waiting::ADifferentPackage}}) {
        SCOPED_TRACE(c.what);
        Scene scene;
        std::optional<MessageBoxInfo> box;
        ASSERT_TRUE(DiesAtItsCut(scene, L"--kill-at=" + std::to_wstring(packageDeletion), box));
        ASSERT_TRUE(scene.directory.Exists(L"Temp\\InstallJournal\\journal.log"));
        const std::wstring package = scene.directory / L"Quellis.sky";
        Picture expected = scene.newSet;
        std::string version = kNewVersion;
        std::wstring message;
        switch (c.waiting) {
        case Waiting::TheInstalledPackage:
            message = L"上次的升级已经完成。升级包 " + package + L" 已经安装过，不会再次安装，现已将它删除。";
            break;
        case Waiting::NoPackage:
            scene.directory.Remove(L"Quellis.sky");
            message = L"上次的升级已经完成。";
            break;
        case Waiting::ADifferentPackage:
            WritePackage(scene.directory, "9.0", nextFiles);
            for (const Payload& file : nextFiles) expected[file.path + file.name] = file.bytes;
            expected["Temp\\update.xml"] = DescriptorOf("9.0", nextFiles);
            version = "9.0";
            message = L"升级成功!";
            break;
        }

        Updater app(scene.directory, kFaulty);
        app.ClickStart();
        box = app.NextBox();
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->text, message) << Describe(*box);
        EXPECT_EQ(box->icon, BoxIcon::Information) << Describe(*box);
        box->Dismiss();
        // One click, one message: the sentinel click's answer must be the next box.
        app.ClickStart();
        box = app.NextBox();
        EXPECT_TRUE(box && box->text == L"未检查到升级程序!") << (box ? Describe(*box) : "no box");
        EXPECT_EQ(Difference(expected, State(scene.directory)), "");
        EXPECT_TRUE(JournalLeftovers(scene.directory).empty());
        EXPECT_EQ(scene.Versions(), std::vector<std::string>{version});
    }
}
