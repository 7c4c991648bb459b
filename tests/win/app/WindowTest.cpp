// The main window as the user first sees it, driven from outside through the real Update.exe.
#include <gtest/gtest.h>

#include "ControlIds.h"
#include "Driver.h"

using namespace driver;

namespace {

RECT ClientRectOf(HWND control, HWND form)
{
    RECT bounds;
    GetWindowRect(control, &bounds);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

void ExpectBounds(HWND form, int id, int left, int top, int width, int height)
{
    const RECT r = ClientRectOf(GetDlgItem(form, id), form);
    EXPECT_EQ(r.left, left) << "control " << id;
    EXPECT_EQ(r.top, top) << "control " << id;
    EXPECT_EQ(r.right - r.left, width) << "control " << id;
    EXPECT_EQ(r.bottom - r.top, height) << "control " << id;
}

}  // namespace

TEST(MainWindow, OpensWithItsLayoutInAnEmptyProgramDirectory)
{
    ProgramDir directory;  // none of the suite's files: nothing is read until an event
    UpdateApp app(directory);
    HWND form = app.Form();

    RECT client;
    GetClientRect(form, &client);
    EXPECT_EQ(client.right, 344);
    EXPECT_EQ(client.bottom, 175);

    const LONG style = GetWindowLongW(form, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "the window must not be resizable";

    RECT frame;
    GetWindowRect(form, &frame);
    const int centreX = (frame.left + frame.right) / 2, centreY = (frame.top + frame.bottom) / 2;
    EXPECT_NEAR(centreX, GetSystemMetrics(SM_CXSCREEN) / 2, 2);
    EXPECT_NEAR(centreY, GetSystemMetrics(SM_CYSCREEN) / 2, 2);

    ExpectBounds(form, IDC_IMAGE1, 0, 16, 128, 128);
    ExpectBounds(form, IDC_LABEL3, 168, 16, 36, 13);
    ExpectBounds(form, IDC_LABEL2, 168, 44, 145, 13);
    ExpectBounds(form, IDC_LABEL6, 168, 68, 145, 13);
    ExpectBounds(form, IDC_BTSTART, 168, 104, 97, 25);
    ExpectBounds(form, IDC_LBLMESSAGE, 32, 155, 296, 12);

    EXPECT_EQ(WindowText(GetDlgItem(form, IDC_LABEL3)), L"注意：");
    EXPECT_EQ(WindowText(GetDlgItem(form, IDC_LABEL2)), L"1.请先关闭主程序");
    EXPECT_EQ(WindowText(GetDlgItem(form, IDC_LABEL6)), L"2.按下升级按钮");
    EXPECT_EQ(WindowText(GetDlgItem(form, IDC_BTSTART)), L"开始升级");
    EXPECT_EQ(app.Status(), L"");
    EXPECT_NE(SendMessageW(GetDlgItem(form, IDC_IMAGE1), STM_GETIMAGE, IMAGE_BITMAP, 0), 0) << "no picture";

    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &info);
    EXPECT_EQ(info.hwndFocus, GetDlgItem(form, IDC_BTSTART));

    EXPECT_TRUE(app.Closes()) << "the window closes from its caption bar";
}

// A box that must not come is ruled out by a sentinel rather than by a wait that a late box would pass: F2 in author
// mode without a file list, pressed behind the event that must bring no box, gives an answer no click gives ("No
// active document."), and that must be the next box.
void ExpectTheSentinelsAnswerNext(UpdateApp& app, const char* what)
{
    const MessageBoxInfo box = app.ExpectMessageBox();
    EXPECT_EQ(box.text, L"No active document.") << what;
    box.Dismiss();
}

TEST(MainWindow, EnterOnTheFocusedButtonClicksItOnceAndTheEnterThatClosesTheAnswerDoesNot)
{
    ProgramDir directory;  // no package: each click ends in one message box
    directory.WriteFile(L"aaa.aaa", "");
    UpdateApp app(directory);
    // A repeated key-down (a held key) is not a press. The sentinel is posted behind it.
    PostMessageW(app.Control(IDC_BTSTART), WM_KEYDOWN, VK_RETURN, 1 | (1 << 30));
    app.PostKey(VK_F2);
    ExpectTheSentinelsAnswerNext(app, "a repeated Enter started the install");

    app.TypeKey(VK_RETURN);
    const MessageBoxInfo box = app.ExpectMessageBox();
    EXPECT_EQ(box.text, L"未检查到升级程序!");
    TypeKeyInto(box.window, VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box.window); }, 5s)) << "Enter did not close the message box";
    app.TypeKey(VK_F2);  // typed as the Enter was, so that it reaches the window after that Enter's key-up
    ExpectTheSentinelsAnswerNext(app, "the Enter that closed the box started a new run");
}
