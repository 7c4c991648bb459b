// A package that updates the updater: Update.exe and the archive libraries replaced while Update.exe runs. Windows
// lets the running program be renamed (into the install's backups) but neither deleted nor replaced, and Wine 8
// refuses its deletion the same way, so these runs take the path a user's Windows takes.
#include <gtest/gtest.h>

#include "InstallTestSupport.h"

using namespace install_test;

namespace {

constexpr const wchar_t* kFaulty = L"UpdateWithFaults.exe";
const std::string kNewerBuild = "\n-- a newer build --\n";

// The program's files as a package carries them: the built files with bytes appended after the image (a program
// or library with such an overlay still runs), so that a new file can be told from the old one.
Payload Newer(const TempDir& directory, const std::wstring& name)
{
    return {Narrow(name), "", directory.ReadFile(name) + kNewerBuild};
}

std::vector<Payload> NewUpdaterAndLibraries(const TempDir& directory)
{
    return {Newer(directory, L"Update.exe"), Newer(directory, L"zip32.dll"), Newer(directory, L"unzip32.dll")};
}

Picture Installed(Picture before, const std::vector<Payload>& files)
{
    before.erase("Quellis.sky");
    for (const Payload& file : files) before[file.name] = file.bytes;
    return before;
}

// Whether a trace line of the test build ("K<TAB>operation<TAB>path...") is this operation, its last path ending so.
bool Is(const std::string& line, const std::string& operation, const std::string& pathEnd)
{
    return line.find("\t" + operation + "\t") != std::string::npos && line.size() >= pathEnd.size() &&
           line.compare(line.size() - pathEnd.size(), pathEnd.size(), pathEnd) == 0;
}

// The number of the operation after the last `operation` on a path ending in `pathEnd`; 0 when there is none.
unsigned OperationAfter(const std::vector<std::string>& trace, const std::string& operation, const std::string& pathEnd)
{
    unsigned found = 0;
    for (unsigned i = 0; i < trace.size(); ++i) {
        if (Is(trace[i], operation, pathEnd)) found = i + 2;
    }
    return found;
}

// The commit record's write: the last journal write before the package goes.
unsigned CommitOperation(const std::vector<std::string>& trace)
{
    unsigned commit = 0;
    for (unsigned i = 0; i < trace.size() && !Is(trace[i], "delete", "Quellis.sky"); ++i) {
        if (trace[i].find("\twrite\t") != std::string::npos) commit = i + 1;
    }
    return commit;
}

// The file operations of an install of these files by the test build, unhindered, in a program directory of its
// own.
std::vector<std::string> CleanTrace(const std::function<std::vector<Payload>(const TempDir&)>& package)
{
    ProgramDir directory;
    directory.CopyFromBin(kFaulty);
    WritePackage(directory, "2.0", package(directory));
    const TempDir traces;
    {
        Updater run(directory, kFaulty, L"--trace=\"" + (traces / L"trace.txt") + L"\"");
        run.ClickStart();
        const auto box = run.NextBox();
        EXPECT_TRUE(box && box->text == L"升级成功!") << (box ? Describe(*box) : "no box");
    }
    return ReadTrace(traces / L"trace.txt");
}

}  // namespace

// The release itself replaces all three files, and the next start runs the new ones. The running program's
// backup cannot be deleted while it runs: it is the one thing the install leaves, and the next click removes it
// without a word, whether it installs or finds nothing to install.
TEST(SelfUpdate, TheReleaseReplacesItselfAndItsLibrariesAndTheNextStartRunsTheNewOnes)
{
    struct Case {
        const char* name;
        std::vector<Payload> nextPackage;  // none: the next click finds no package
        std::wstring nextBox;
    };
    const std::vector<Case> cases = {
        {"the next click installs", {{"second.txt", "", "installed by the new updater"}}, L"升级成功!"},
        {"the next click finds no package", {}, L"未检查到升级程序!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDir directory;
        const std::string oldUpdater = directory.ReadFile(L"Update.exe");
        const std::vector<Payload> files = NewUpdaterAndLibraries(directory);
        WritePackage(directory, "2.0", files);
        const Picture installed = Installed(TakePicture(directory), files);
        {
            Updater app(directory);
            app.ClickStart();
            const auto box = app.NextBox();
            ASSERT_TRUE(box && box->text == L"升级成功!") << (box ? Describe(*box) : "no box");
            EXPECT_EQ(Difference(installed, TakePicture(directory)), "");
            const std::vector<std::string> left = JournalLeftovers(directory);
            ASSERT_EQ(left.size(), 1u) << "only the running program's backup stays";
            EXPECT_EQ(directory.ReadFile(L"Temp\\InstallJournal\\" + Widen(left[0])), oldUpdater);
            EXPECT_TRUE(app.Close());
        }

        if (!c.nextPackage.empty()) WritePackage(directory, "3.0", c.nextPackage);
        const Picture expected = c.nextPackage.empty() ? installed : Installed(installed, c.nextPackage);
        Updater next(directory);  // the new Update.exe, extracting with the new unzip32.dll
        next.ClickStart();
        const auto box = next.NextBox();
        EXPECT_TRUE(box && box->text == c.nextBox) << (box ? Describe(*box) : "no box");
        EXPECT_EQ(Difference(expected, TakePicture(directory)), "");
        EXPECT_EQ(JournalLeftovers(directory), std::vector<std::string>{}) << "the old program's backup is gone";
    }
}

// A failure after the new Update.exe was placed, or at the commit, puts the old one back with everything else:
// also when it is the program that runs the install, whose backup is then the running program, renamed back.
TEST(SelfUpdate, AFailureAfterTheUpdaterWasPlacedPutsTheOldOneBack)
{
    for (const std::wstring replaced : {L"Update.exe", kFaulty}) {
        const auto package = [&](const TempDir& directory) {
            return std::vector<Payload>{Newer(directory, replaced),
                                        Newer(directory, L"zip32.dll"),
                                        Newer(directory, L"unzip32.dll"),
                                        {"data.txt", "Data\\", "the suite's data"}};
        };
        const std::vector<std::string> trace = CleanTrace(package);
        const unsigned afterPlacing = OperationAfter(trace, "move", Narrow(L"\\" + replaced));
        ASSERT_GT(afterPlacing, 0u) << "the clean install placed no " << Narrow(replaced);
        for (const unsigned failAt : {afterPlacing, CommitOperation(trace)}) {
            SCOPED_TRACE("failing operation " + std::to_string(failAt) + ": " + trace.at(failAt - 1));
            ProgramDir directory;
            directory.CopyFromBin(kFaulty);
            const std::string runningProgram = directory.ReadFile(kFaulty);
            WritePackage(directory, "2.0", package(directory));
            const Picture before = TakePicture(directory);
            Updater run(directory, kFaulty, L"--fail-at=" + std::to_wstring(failAt));
            run.ClickStart();
            const auto box = run.NextBox();
            ASSERT_TRUE(box.has_value());
            EXPECT_EQ(box->icon, BoxIcon::Error) << Describe(*box);
            EXPECT_EQ(Difference(before, TakePicture(directory)), "") << "the old Update.exe and libraries are back";
            EXPECT_EQ(directory.ReadFile(kFaulty), runningProgram);
            EXPECT_EQ(JournalLeftovers(directory), std::vector<std::string>{});
        }
    }
}

// The new program undoes an interrupted install of itself: the undo moves the running program back into the
// staging folder, where it cannot be deleted. The install goes on all the same, the running program set aside
// among the leftovers, which the click after it removes.
TEST(SelfUpdate, TheNewUpdaterUndoesAnInterruptedInstallOfItselfAndInstallsAgain)
{
    const auto package = [](const TempDir& directory) {
        return std::vector<Payload>{Newer(directory, kFaulty), {"data.txt", "", "the suite's data"}};
    };
    const unsigned afterPlacing = OperationAfter(CleanTrace(package), "move", "\\UpdateWithFaults.exe");
    ASSERT_GT(afterPlacing, 0u) << "the clean install placed no UpdateWithFaults.exe";
    ProgramDir directory;
    directory.CopyFromBin(kFaulty);
    const std::vector<Payload> files = package(directory);
    WritePackage(directory, "2.0", files);
    {
        Updater old(directory, kFaulty, L"--kill-at=" + std::to_wstring(afterPlacing));
        old.ClickStart();
        EXPECT_FALSE(old.NextBox().has_value());
        EXPECT_TRUE(old.Ended());
        EXPECT_EQ(old.ExitCode(), Updater::kKilledExitCode);
    }
    ASSERT_EQ(directory.ReadFile(kFaulty), files[0].bytes) << "the new program is in place, its install not undone";
    {
        Updater newer(directory, kFaulty);
        newer.ClickStart();
        auto box = newer.NextBox();
        ASSERT_TRUE(box && box->text == L"上次的升级被中断，已撤销它所做的全部更改。")
            << (box ? Describe(*box) : "no box");
        box->Dismiss();
        box = newer.NextBox();
        ASSERT_TRUE(box && box->text == L"升级成功!") << (box ? Describe(*box) : "no box");
        EXPECT_EQ(directory.ReadFile(kFaulty), files[0].bytes);
        EXPECT_EQ(directory.ReadFile(L"data.txt"), files[1].bytes);
        EXPECT_EQ(JournalLeftovers(directory), std::vector<std::string>{"UpdateWithFaults.exe.1.running"});
    }
    Updater after(directory, kFaulty);
    after.ClickStart();
    const auto box = after.NextBox();
    EXPECT_TRUE(box && box->text == L"未检查到升级程序!") << (box ? Describe(*box) : "no box");
    EXPECT_EQ(JournalLeftovers(directory), std::vector<std::string>{});
}
