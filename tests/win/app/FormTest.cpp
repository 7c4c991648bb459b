// The form inside the test process: key preview, the default error handler, and asking the suite to close.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <thread>
#include <vector>

#include "Application.h"
#include "ControlIds.h"
#include "Driver.h"
#include "MainFrm.h"
#include "MessagePump.h"

using namespace driver;

namespace {

// Records the key messages a window receives, without changing what it does with them.
struct KeyLog {
    std::vector<std::pair<UINT, WPARAM>> seen;

    static LRESULT CALLBACK Hook(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self)
    {
        if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN || message == WM_KEYPREVIEW) {
            reinterpret_cast<KeyLog*>(self)->seen.emplace_back(message, wParam);
        }
        return DefSubclassProc(window, message, wParam, lParam);
    }
    bool Saw(UINT message, WPARAM key) const
    {
        for (const auto& entry : seen)
            if (entry.first == message && entry.second == key) return true;
        return false;
    }
};

class FormTest : public ::testing::Test {
protected:
    TApplication application{GetModuleHandleW(nullptr)};
    TfrmMain form{application, std::nullopt};
    HWND button = GetDlgItem(form.Handle(), IDC_BTSTART);
};

}  // namespace

TEST_F(FormTest, EveryKeyPressReachesTheFormFirstAndStillReachesTheFocusedControl)
{
    form.Show(SW_SHOW);
    KeyLog formLog, buttonLog;
    SetWindowSubclass(form.Handle(), KeyLog::Hook, 1, reinterpret_cast<DWORD_PTR>(&formLog));
    SetWindowSubclass(button, KeyLog::Hook, 1, reinterpret_cast<DWORD_PTR>(&buttonLog));

    PostMessageW(button, WM_KEYDOWN, VK_F2, 1);
    PostMessageW(button, WM_KEYDOWN, 'A', 1);
    PostMessageW(button, WM_SYSKEYDOWN, VK_F10, 1);
    PostMessageW(button, WM_SYSKEYDOWN, 'X', 1 | (1 << 29));  // Alt+X
    ProcessMessages();

    for (WPARAM key : {WPARAM(VK_F2), WPARAM('A'), WPARAM(VK_F10), WPARAM('X')}) {
        EXPECT_TRUE(formLog.Saw(WM_KEYPREVIEW, key)) << "the form did not see key " << key;
    }
    EXPECT_TRUE(buttonLog.Saw(WM_KEYDOWN, VK_F2));
    EXPECT_TRUE(buttonLog.Saw(WM_KEYDOWN, 'A'));
    EXPECT_TRUE(buttonLog.Saw(WM_SYSKEYDOWN, VK_F10)) << "F10 was swallowed";
    EXPECT_TRUE(buttonLog.Saw(WM_SYSKEYDOWN, 'X')) << "Alt+X was swallowed";

    RemoveWindowSubclass(form.Handle(), KeyLog::Hook, 1);
    RemoveWindowSubclass(button, KeyLog::Hook, 1);
}

TEST_F(FormTest, DefaultErrorHandlerShowsTheTextWithItsFullStopRuleUnderTheComputedTitle)
{
    struct Case {
        const char* raised;
        const wchar_t* shown;
    } cases[] = {
        {"x", L"x."},  {"I/O error 183", L"I/O error 183."},           {"x)", L"x)"},
        {"x!", L"x!"}, {"No active document", L"No active document."}, {"升级失败", L"升级失败."},
        {"", L""},
    };
    for (const Case& c : cases) {
        MessageBoxInfo shown;
        std::thread watcher([&] {
            if (auto box = WaitForMessageBox(GetCurrentProcessId(), 10s)) {
                shown = *box;
                box->Dismiss();
            }
        });
        application.ShowException(form.Handle(), std::runtime_error(c.raised));
        watcher.join();
        EXPECT_EQ(shown.text, c.shown) << "raised: " << c.raised;
        EXPECT_EQ(shown.icon, BoxIcon::Error);
        // This executable's own name, by the same rule as "Update" for Update.exe: never a fixed text.
        EXPECT_EQ(shown.caption, L"App_form_tests");
    }
    EXPECT_TRUE(IsWindowEnabled(form.Handle())) << "the window must stay usable";
}

TEST(ApplicationTitle, IsTheExecutableNameUpToItsFirstFullStopWithTheRestInLowerCase)
{
    EXPECT_EQ(TitleFromExecutablePath(L"C:\\Suite\\Update.exe"), L"Update");
    EXPECT_EQ(TitleFromExecutablePath(L"C:\\Suite\\UPDATE.EXE"), L"Update");
    EXPECT_EQ(TitleFromExecutablePath(L"D:\\a.b\\my.TOOL.exe"), L"my") << "only the file name counts";
    EXPECT_EQ(TitleFromExecutablePath(L"C:\\x\\UPDATER"), L"Updater");
}

// ---- asking the suite's programs to close ---------------------------------------------------------------------

namespace {

// A fake suite program with the given caption, already showing its window.
Process StartSuiteProgram(const std::wstring& caption, const wchar_t* behaviour)
{
    Process program(BinDirectory() + L"FakeSuiteProgram.exe", L"\"" + caption + L"\" " + behaviour);
    if (!WaitUntil([&] { return FindWindowW(nullptr, caption.c_str()) != nullptr; }, 20s)) {
        throw std::runtime_error("the fake suite program showed no window");
    }
    return program;
}

// Close requests the fake received: its exit code once its window is gone.
DWORD RequestsReceived(Process& program, const std::wstring& caption)
{
    if (HWND window = FindWindowW(nullptr, caption.c_str())) PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.Wait(10s));
    return program.ExitCode();
}

double SecondsOf(const std::function<void()>& action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST_F(FormTest, CloseRunningProgramsWithNoSuiteProgramRunningReturnsAtOnce)
{
    bool closed = false;
    EXPECT_LT(SecondsOf([&] { closed = form.CloseRunningPrograms(); }), 0.4);
    EXPECT_TRUE(closed);
}

TEST_F(FormTest, CloseRunningProgramsAsksThreeTimesButOnlyTheMobileEditionDecides)
{
    const std::wstring learning = L"Tavilo综合学习平台";  // #2, keeps its window
    Process program = StartSuiteProgram(learning, L"ignore");
    bool closed = false;
    EXPECT_GE(SecondsOf([&] { closed = form.CloseRunningPrograms(); }), 1.5);
    EXPECT_TRUE(closed);
    EXPECT_EQ(RequestsReceived(program, learning), 3u);
}

TEST_F(FormTest, CloseRunningProgramsAsksAProgramThatClosesOnlyOnce)
{
    const std::wstring mobile = L"MorvaneTavilo(移动版)";  // #6
    Process program = StartSuiteProgram(mobile, L"close");
    bool closed = false;
    const double seconds = SecondsOf([&] { closed = form.CloseRunningPrograms(); });
    EXPECT_TRUE(closed);
    EXPECT_TRUE(program.Wait(10s));
    EXPECT_EQ(program.ExitCode(), 1u);
    EXPECT_GE(seconds, 0.5);
    EXPECT_LT(seconds, 1.4);
}

TEST_F(FormTest, CloseRunningProgramsFailsWhileTheMobileSyncToolStaysOpen)
{
    const std::wstring mobileSync = L"MorvaneTavilo(移动版)同步助手";  // #5
    Process program = StartSuiteProgram(mobileSync, L"ignore");
    EXPECT_FALSE(form.CloseRunningPrograms());
    EXPECT_EQ(RequestsReceived(program, mobileSync), 3u);
}

TEST_F(FormTest, CloseRunningProgramsFindsCaptionsWithoutRegardToCase)
{
    const std::wstring mobile = L"morvanetavilo(移动版)";
    Process program = StartSuiteProgram(mobile, L"ignore");
    EXPECT_FALSE(form.CloseRunningPrograms());
    EXPECT_EQ(RequestsReceived(program, mobile), 3u);
}

// The rig's own promise: a program that a test started ends with the test, even when the test is killed (as ctest
// does at a timeout); a stand-in suite program left running would make every later install refuse. This test runs
// itself a second time as the test that is killed.
TEST(TestJob, AProgramATestStartedEndsWhenTheTestIsKilled)
{
    wchar_t probeCaption[64]{};
    if (GetEnvironmentVariableW(L"TAVILO_JOB_PROBE", probeCaption, 64) > 0) {
        Process suiteProgram(BinDirectory() + L"FakeSuiteProgram.exe",
                             L"\"" + std::wstring(probeCaption) + L"\" ignore");
        Sleep(INFINITE);
    }
    const std::wstring caption = L"作业探针 " + std::to_wstring(GetCurrentProcessId());
    wchar_t self[MAX_PATH]{};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    SetEnvironmentVariableW(L"TAVILO_JOB_PROBE", caption.c_str());
    Process killedTest(self, L"--gtest_filter=TestJob.*");
    SetEnvironmentVariableW(L"TAVILO_JOB_PROBE", nullptr);
    ASSERT_TRUE(WaitUntil([&] { return FindWindowW(nullptr, caption.c_str()) != nullptr; }, 30s));

    killedTest.Kill();
    EXPECT_TRUE(WaitUntil([&] { return FindWindowW(nullptr, caption.c_str()) == nullptr; }, 10s))
        << "the stand-in suite program outlived the test that started it";
}
