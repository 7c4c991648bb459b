// A suite under Program Files: a run that may not write where it must is handed to an elevated copy of the
// updater, once. Wine running as root is never denied and calls its token elevated, so the test build fakes both
// (--deny-writes, --token-elevated=0|1), the user's answer to the consent prompt (--decline-elevation) and a
// restart that cannot start (--elevation-fails=N). The restart itself is real: under Wine "runas" simply starts the
// program, and the copy it starts does the run.
#include <gtest/gtest.h>

#include "InstallTestSupport.h"

using namespace install_test;

namespace {

enum class Outcome { Installed, Restarted, Declined, CannotStart, Denied, NoPackage };

// The copy the restart started (the test build traces its process id), ended with the test.
class RestartedCopy {
public:
    explicit RestartedCopy(DWORD id) : id_(id), process_(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id)) {}
    ~RestartedCopy()
    {
        if (process_ == nullptr) return;
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 10000);
        CloseHandle(process_);
    }
    RestartedCopy(const RestartedCopy&) = delete;
    RestartedCopy& operator=(const RestartedCopy&) = delete;
    DWORD Id() const { return id_; }

private:
    DWORD id_;
    HANDLE process_;
};

// The restart the test build traced: "restart<TAB>process id<TAB>switch".
std::optional<std::pair<DWORD, std::string>> TracedRestart(const std::wstring& trace)
{
    for (const std::string& line : ReadTrace(trace)) {
        if (!line.starts_with("restart\t")) continue;
        const size_t tab = line.find('\t', 8);
        return std::pair{static_cast<DWORD>(std::stoul(line.substr(8, tab - 8))), line.substr(tab + 1)};
    }
    return std::nullopt;
}

void MakeAuthorMode(const TempDir& program)
{
    program.WriteFile(L"aaa.aaa", "");
    program.WriteFile(L"FilesToUpdate\\readme.txt", "read me");
    program.WriteFile(L"FilesToUpdate\\Files.xml", "<list><foreversion>1.0</foreversion><version>1.1</version>"
                                                   "<files><f src=\"readme.txt\" des=\"\"/></files></list>");
}

}  // namespace

TEST(Elevation, AFolderThatCannotBeWrittenIsHandedToAnElevatedCopyOnce)
{
    struct Case {
        const char* what;
        bool build;  // F2 in author mode rather than the click
        std::wstring switches;
        Outcome outcome;
    };
    const Case cases[] = {
        {"writable: nothing is asked", false, L"--token-elevated=0", Outcome::Installed},
        {"denied, not elevated: an elevated copy installs", false, L"--deny-writes --token-elevated=0",
         Outcome::Restarted},
        {"the prompt declined", false, L"--deny-writes --token-elevated=0 --decline-elevation", Outcome::Declined},
        {"the elevated copy cannot be started", false, L"--deny-writes --token-elevated=0 --elevation-fails=2",
         Outcome::CannotStart},
        {"denied, no package: nothing to do, nothing asked", false, L"--deny-writes --token-elevated=0",
         Outcome::NoPackage},
        {"denied although elevated", false, L"--deny-writes --token-elevated=1", Outcome::Denied},
        {"denied in the copy a restart started", false, L"--deny-writes --token-elevated=0 --elevated=install,0",
         Outcome::Denied},
        {"F2 denied, not elevated: an elevated copy builds", true, L"--deny-writes --token-elevated=0",
         Outcome::Restarted},
        {"F2, the prompt declined", true, L"--deny-writes --token-elevated=0 --decline-elevation", Outcome::Declined},
        {"F2, the elevated copy cannot be started", true, L"--deny-writes --token-elevated=0 --elevation-fails=2",
         Outcome::CannotStart},
        {"F2 denied although elevated", true, L"--deny-writes --token-elevated=1", Outcome::Denied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramDir program;
        program.CopyFromBin(L"UpdateWithFaults.exe");
        program.WriteFile(L"app.dll", "version 1");
        if (c.outcome != Outcome::NoPackage) WritePackage(program, "2.0", {{"app.dll", "", "version 2"}});
        if (c.build) MakeAuthorMode(program);
        const Picture before = TakePicture(program);
        const TempDir traces;
        Updater app(program, L"UpdateWithFaults.exe", c.switches + L" --trace=\"" + (traces / L"trace.txt") + L"\"");
        if (c.switches.find(L"--elevated=") == std::wstring::npos) {
            if (c.build) {
                TypeKeyInto(app.Form(), VK_F2);
            } else {
                app.ClickStart();
            }
        }
        const auto box = app.NextBox();
        const auto restart = TracedRestart(traces / L"trace.txt");
        if (c.outcome == Outcome::Restarted) {
            EXPECT_FALSE(box.has_value()) << Describe(*box);
            ASSERT_TRUE(app.Ended()) << "this copy closes";
            EXPECT_EQ(app.ExitCode(), 0u);
            ASSERT_TRUE(restart.has_value());
            EXPECT_EQ(restart->second,
                      (c.build ? "--elevated=build," : "--elevated=install,") + std::to_string(app.ProcessId()));
            const RestartedCopy copy(restart->first);
            const auto done = WaitForMessageBox(copy.Id(), 60s);
            ASSERT_TRUE(done.has_value()) << "the elevated copy runs as soon as its window shows";
            if (c.build) {
                EXPECT_TRUE(program.Exists(L"Output\\Quellis1.0_1.1.sky")) << Describe(*done);
            } else {
                EXPECT_EQ(done->text, L"升级成功!") << Describe(*done);
                EXPECT_EQ(program.ReadFile(L"app.dll"), "version 2");
            }
            continue;
        }
        EXPECT_FALSE(restart.has_value()) << "never a restart here";
        ASSERT_TRUE(box.has_value());
        if (c.outcome == Outcome::Installed) {
            EXPECT_EQ(box->text, L"升级成功!") << Describe(*box);
            continue;
        }
        if (c.outcome == Outcome::NoPackage) {
            EXPECT_EQ(box->text, L"未检查到升级程序!") << Describe(*box);
        } else if (c.outcome == Outcome::Declined) {
            const std::wstring what =
                c.build ? L"在此文件夹中打包需要管理员权限。" : L"在此文件夹中升级需要管理员权限。";
            EXPECT_EQ(box->text.rfind(what, 0), 0u) << Describe(*box);
        } else if (c.outcome == Outcome::CannotStart) {
            const std::wstring what = c.build ? L"在此文件夹中打包需要管理员权限，但无法以管理员身份启动升级程序："
                                              : L"在此文件夹中升级需要管理员权限，但无法以管理员身份启动升级程序：";
            EXPECT_EQ(box->text.rfind(what, 0), 0u) << Describe(*box);
            EXPECT_NE(box->text.find(c.build ? L"没有生成升级包。" : L"没有做任何更改。"), std::wstring::npos)
                << Describe(*box);
        } else {
            // As without the restart: the first write, the lock in Temp\, is refused.
            EXPECT_EQ(box->text.rfind(L"无法创建 ", 0), 0u) << Describe(*box);
            EXPECT_NE(box->text.find(L"\\Temp"), std::wstring::npos) << Describe(*box);
            EXPECT_NE(box->text.find(L"错误 5）"), std::wstring::npos) << Describe(*box);
        }
        EXPECT_EQ(Difference(before, TakePicture(program)), "") << "nothing changed";
        box->Dismiss();
        EXPECT_FALSE(app.Ended()) << "the window stays";
    }
}
