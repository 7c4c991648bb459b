// The install as a transaction, cut at every file operation: UpdateWithFaults.exe (the program built with its
// fault seam) is killed at, or fails at, operation k of a representative install for every k, and the program
// directory must then hold exactly the old set of files or, after a rerun, exactly the new set, byte for byte,
// with no journal or backup left. The same for a cut during the rollback and during the recovery itself.
#include <gtest/gtest.h>

#include <iostream>

#include "InstallTestSupport.h"

using namespace install_test;

namespace {

constexpr const wchar_t* kFaulty = L"UpdateWithFaults.exe";

// Nested new directories, a replaced file, a new file in the program directory.
const std::vector<Payload> kFiles = {
    {"new.dll", "", "a new library"},
    {"old.dll", "Data\\", "old.dll, version 2"},
    {"deep.txt", "Fresh\\Deeper\\", "three levels down"},
};

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

// The picture after the install of kFiles over `before`.
Picture Installed(Picture before)
{
    before.erase("Quellis.sky");
    before["Fresh\\"] = "";
    before["Fresh\\Deeper\\"] = "";
    for (const Payload& file : kFiles) before[file.path + file.name] = file.bytes;
    return before;
}

class EveryStep : public ::testing::Test {
protected:
    // A program directory as it is before the install: old.dll in Data\, the package beside the program.
    struct Scene {
        ProgramDir directory;
        Picture oldSet;
        Picture newSet;
        Scene()
        {
            directory.CopyFromBin(kFaulty);
            directory.WriteFile(L"Data\\old.dll", "old.dll, version 1");
            WritePackage(directory, "8.0", kFiles);
            oldSet = TakePicture(directory);
            newSet = Installed(oldSet);
        }
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
        return TakeTrace();
    }

    // Runs the test build with these arguments and clicks: true when it died at its cut point, false when it
    // showed a box first (the box is handed back).
    bool DiesAtItsCut(const Scene& scene, const std::wstring& arguments, std::optional<MessageBoxInfo>& box)
    {
        Updater run(scene.directory, kFaulty, Traced(arguments));
        run.ClickStart();
        box = run.NextBox();
        if (box) return false;
        EXPECT_TRUE(run.Ended());
        EXPECT_EQ(run.ExitCode(), Updater::kKilledExitCode);
        return true;
    }

    // The next click with the release program after a cut: the interrupted install is undone (and the old set is
    // there when the message says so) and the rerun installs the new set; or it had committed and is finished.
    // True when everything ended as it must.
    bool RecoversAtTheNextClick(const Scene& scene)
    {
        const int failuresBefore = FailureCount();
        Updater app(scene.directory);
        app.ClickStart();
        auto box = app.NextBox();
        if (!box) {
            ADD_FAILURE() << "no message box after the recovery click";
            return false;
        }
        if (box->text == kUndone) {
            EXPECT_EQ(box->icon, BoxIcon::Information);
            EXPECT_EQ(Difference(scene.oldSet, TakePicture(scene.directory)), "") << "after the rollback";
            EXPECT_TRUE(JournalLeftovers(scene.directory).empty());
            box->Dismiss();
            box = app.NextBox();
            EXPECT_TRUE(box && box->text == L"升级成功!") << (box ? Describe(*box) : "no box after the rerun");
        } else if (box->text.rfind(kCompleted, 0) == 0) {
            // Finished, and the package deleted if it was still there: one click, one message.
            box->Dismiss();
            EXPECT_FALSE(app.NextBox(1s)) << "a second message after the recovery";
        } else if (box->text != L"升级成功!") {
            // Cut after the journal was gone: only an empty directory of it was left, and the package is gone.
            EXPECT_EQ(box->text, L"未检查到升级程序!") << Describe(*box);
        }
        EXPECT_EQ(Difference(scene.newSet, TakePicture(scene.directory)), "") << "after the rerun";
        EXPECT_TRUE(JournalLeftovers(scene.directory).empty());
        return FailureCount() == failuresBefore;
    }

    static unsigned IndexOf(const std::vector<std::string>& trace, const std::string& operation,
                            const std::string& pathEnd)
    {
        unsigned found = 0;
        for (unsigned i = 0; i < trace.size(); ++i) {
            const std::string& line = trace[i];
            if (line.find("\t" + operation + "\t") != std::string::npos && line.size() >= pathEnd.size() &&
                line.compare(line.size() - pathEnd.size(), pathEnd.size(), pathEnd) == 0) {
                found = i + 1;
            }
        }
        return found;  // the last one, counted from 1; 0 when there is none
    }

    TempDir traces;
};

}  // namespace

TEST_F(EveryStep, AKillAtAnyFileOperationIsUndoneOrFinishedAtTheNextClick)
{
    unsigned cutPoints = 0;
    unsigned clean = 0;
    for (unsigned k = 1;; ++k) {
        Scene scene;
        std::optional<MessageBoxInfo> box;
        if (!DiesAtItsCut(scene, L"--kill-at=" + std::to_wstring(k), box)) {
            // Past the last operation: the install ran to its end.
            EXPECT_TRUE(box && box->text == L"升级成功!") << (box ? Describe(*box) : "no box");
            EXPECT_EQ(Difference(scene.newSet, TakePicture(scene.directory)), "");
            break;
        }
        const auto trace = TakeTrace();
        SCOPED_TRACE("killed at " + (trace.empty() ? std::string("?") : trace.back()));
        ++cutPoints;
        if (RecoversAtTheNextClick(scene)) ++clean;
        if (k > 200) break;
    }
    RecordProperty("cut_points", static_cast<int>(cutPoints));
    RecordProperty("ended_clean", static_cast<int>(clean));
    std::cout << "kill at every step: " << cutPoints << " cut points, " << clean << " ended clean\n";
    EXPECT_GE(cutPoints, 15u) << "the representative install has fewer operations than it should";
    EXPECT_EQ(clean, cutPoints);
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
            EXPECT_EQ(Difference(scene.oldSet, TakePicture(scene.directory)), "");
            EXPECT_TRUE(JournalLeftovers(scene.directory).empty());
        } else {
            EXPECT_EQ(box->text, L"升级成功!") << Describe(*box);
            Picture done = scene.newSet;
            if (k == packageDeletion) done["Quellis.sky"] = scene.oldSet.at("Quellis.sky");
            EXPECT_EQ(Difference(done, TakePicture(scene.directory)), "");
            // What could not be tidied up is tidied up by the next click.
            Updater app(scene.directory);
            app.ClickStart();
            const auto next = app.NextBox();
            const bool finished = next && next->text.rfind(kCompleted, 0) == 0;
            EXPECT_TRUE(finished || (next && next->text == L"未检查到升级程序!"))
                << (next ? Describe(*next) : "no box");
            EXPECT_EQ(Difference(scene.newSet, TakePicture(scene.directory)), "");
            EXPECT_TRUE(JournalLeftovers(scene.directory).empty());
        }
        if (FailureCount() == failuresBefore) ++clean;
    }
    RecordProperty("failure_points", static_cast<int>(failurePoints));
    RecordProperty("ended_clean", static_cast<int>(clean));
    std::cout << "fail at every step: " << failurePoints << " failure points, " << clean << " ended clean\n";
    EXPECT_EQ(clean, failurePoints);
}

// The last file fails, so the rollback has the most to undo; then the process dies at each of the rollback's own
// operations, and the next click finishes the rollback.
TEST_F(EveryStep, AKillDuringTheRollbackIsFinishedAtTheNextClick)
{
    const auto operations = OperationsOfACleanInstall();
    const unsigned lastPlacement = IndexOf(operations, "move", "deep.txt");
    ASSERT_GT(lastPlacement, 0u);
    const std::wstring failure = L"--fail-at=" + std::to_wstring(lastPlacement);

    unsigned cutPoints = 0;
    unsigned clean = 0;
    for (unsigned k = lastPlacement + 1;; ++k) {
        Scene scene;
        std::optional<MessageBoxInfo> box;
        if (!DiesAtItsCut(scene, failure + L" --kill-at=" + std::to_wstring(k), box)) {
            ASSERT_TRUE(box.has_value());
            EXPECT_NE(box->text.find(L"没有做任何更改"), std::wstring::npos) << Describe(*box);
            EXPECT_EQ(Difference(scene.oldSet, TakePicture(scene.directory)), "");
            break;
        }
        const auto trace = TakeTrace();
        SCOPED_TRACE("killed during the rollback at " + (trace.empty() ? std::string("?") : trace.back()));
        ++cutPoints;
        if (RecoversAtTheNextClick(scene)) ++clean;
        if (k > lastPlacement + 100) break;
    }
    std::cout << "kill during the rollback: " << cutPoints << " cut points, " << clean << " ended clean\n";
    RecordProperty("cut_points", static_cast<int>(cutPoints));
    EXPECT_GE(cutPoints, 5u);
    EXPECT_EQ(clean, cutPoints);
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
        const auto trace = TakeTrace();
        SCOPED_TRACE("rollback failing at " + (k <= trace.size() ? trace[k - 1] : std::string("?")));
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->icon, BoxIcon::Error);
        EXPECT_NE(box->text.find(L"撤销已做的更改时出错"), std::wstring::npos) << Describe(*box);
        EXPECT_EQ(box->text.find(L"没有做任何更改"), std::wstring::npos) << "it must not claim that nothing changed";
        EXPECT_TRUE(RecoversAtTheNextClick(scene));
    }
}

// The recovery is a rollback too: cut it at each of its operations and the click after that still ends clean.
TEST_F(EveryStep, AKillDuringTheRecoveryIsFinishedAtTheNextClick)
{
    const auto operations = OperationsOfACleanInstall();
    const unsigned lastPlacement = IndexOf(operations, "move", "deep.txt");
    ASSERT_GT(lastPlacement, 0u);

    unsigned cutPoints = 0;
    unsigned clean = 0;
    for (unsigned k = 1;; ++k) {
        Scene scene;
        std::optional<MessageBoxInfo> box;
        // Every file in place, the commit not yet written: the recovery has everything to undo.
        ASSERT_TRUE(DiesAtItsCut(scene, L"--kill-at=" + std::to_wstring(lastPlacement + 1), box));
        TakeTrace();
        if (!DiesAtItsCut(scene, L"--kill-at=" + std::to_wstring(k), box)) {
            EXPECT_TRUE(box && box->text == kUndone) << (box ? Describe(*box) : "no box");
            break;
        }
        const auto trace = TakeTrace();
        SCOPED_TRACE("recovery killed at " + (trace.empty() ? std::string("?") : trace.back()));
        ++cutPoints;
        if (RecoversAtTheNextClick(scene)) ++clean;
        if (k > 100) break;
    }
    std::cout << "kill during the recovery: " << cutPoints << " cut points, " << clean << " ended clean\n";
    RecordProperty("cut_points", static_cast<int>(cutPoints));
    EXPECT_GE(cutPoints, 5u);
    EXPECT_EQ(clean, cutPoints);
}
