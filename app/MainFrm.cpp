#include "MainFrm.h"

#include <commctrl.h>

#include "Application.h"
#include "BuildFlow.h"
#include "ControlIds.h"
#include "Dialogs.h"
#include "InstallFlow.h"
#include "MessagePump.h"
#include "OdbcConnection.h"
#include "Paths.h"
#include "ProgramLayout.h"
#include "SharedRoutines.h"
#include "SuitePrograms.h"
#include "Text.h"
#include "XmlDocument.h"
#include "ZipExtractor.h"
#include "ZipPacker.h"
#ifdef TAVILO_FAULT_INJECTION
#include "install/FaultPlan.h"
#endif

namespace {

constexpr wchar_t kWindowClass[] = L"TfrmMain";
constexpr wchar_t kCaption[] = L"Tavilo升级程序";
constexpr int kClientWidth = 344;
constexpr int kClientHeight = 175;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr WORD kBuildKey = VK_F2;
// Posted once the window shows, in a copy started elevated: its run starts then (WM_APP + 1 is the key preview).
constexpr UINT kStartRequestedRun = WM_APP + 2;
// How long such a copy waits for the one that started it to close (it closes at once). Bounded, so that a process
// that hangs can never keep the run from starting; the lock still keeps two runs apart.
constexpr int kPredecessorWaits = 100;  // of a tenth of a second, the window painting meanwhile

struct ControlLayout {
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;
    int id;
    RECT bounds;  // left, top, width, height at 96 dpi
};

// The window's layout description, at 96 dots per inch.
constexpr ControlLayout kLayout[] = {
    {L"STATIC", L"注意：", SS_LEFT | SS_NOPREFIX, IDC_LABEL3, {168, 16, 36, 13}},
    {L"STATIC", L"1.请先关闭主程序", SS_LEFT | SS_NOPREFIX, IDC_LABEL2, {168, 44, 145, 13}},
    {L"STATIC", L"2.按下升级按钮", SS_LEFT | SS_NOPREFIX, IDC_LABEL6, {168, 68, 145, 13}},
    {L"STATIC", L"", SS_BITMAP | SS_REALSIZECONTROL, IDC_IMAGE1, {0, 16, 128, 128}},
    {L"BUTTON", L"开始升级", BS_PUSHBUTTON | WS_TABSTOP, IDC_BTSTART, {168, 104, 97, 25}},
    {L"STATIC", L"", SS_LEFT | SS_NOPREFIX, IDC_LBLMESSAGE, {32, 155, 296, 12}},
};

int ScreenDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

TShiftState CurrentShiftState()
{
    auto held = [](int key) { return (GetKeyState(key) & 0x8000) != 0; };
    return {held(VK_SHIFT), held(VK_MENU), held(VK_CONTROL)};
}

// A push button outside a dialog clicks on Space only; Enter on the focused button should click it too. Only the
// first key-down counts, as in dialogs: a held key's repeats, or the key-up of the Enter that closed a message box,
// must not start another run.
LRESULT CALLBACK ClickOnEnter(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    constexpr LPARAM kWasDown = 1 << 30;
    if (message == WM_KEYDOWN && wParam == VK_RETURN && (lParam & kWasDown) == 0) {
        SendMessageW(button, BM_CLICK, 0, 0);
        return 0;
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(button, ClickOnEnter, 0);
    return DefSubclassProc(button, message, wParam, lParam);
}

// Clears the running-flow mark however the flow ends.
class FlowScope {
public:
    explicit FlowScope(bool& running) : running_(running) { running_ = true; }
    ~FlowScope() { running_ = false; }
    FlowScope(const FlowScope&) = delete;
    FlowScope& operator=(const FlowScope&) = delete;

private:
    bool& running_;
};

}  // namespace

TfrmMain::TfrmMain(TApplication& application, std::optional<RestartRequest> restart)
    : application_(application),
      dpi_(ScreenDpi()),
      restart_(restart),
      zipPacker(std::make_unique<TZipPacker>()),
      zipExtractor(std::make_unique<TZipExtractor>()),
      xml(std::make_unique<TXMLDocument>()),
      cnnServer(std::make_unique<odbc::Connection>())
{
    background_.reset(CreateSolidBrush(RGB(255, 255, 255)));

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = application_.Instance();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(application_.Instance(), MAKEINTRESOURCEW(IDI_UPDATE));
    windowClass.hbrBackground = background_.get();
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&windowClass)) throw WindowsError("Cannot register the window class", GetLastError());

    RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
    AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

    if (!CreateWindowExW(0, kWindowClass, kCaption, kStyle, left, top, width, height, nullptr, nullptr,
                         application_.Instance(), this)) {
        const DWORD error = GetLastError();
        UnregisterClassW(kWindowClass, application_.Instance());
        throw WindowsError("Cannot create the main window", error);
    }
}

TfrmMain::~TfrmMain()
{
    if (handle_ != nullptr) DestroyWindow(handle_);
    UnregisterClassW(kWindowClass, application_.Instance());
}

int TfrmMain::Scale(int pixels) const
{
    return MulDiv(pixels, dpi_, USER_DEFAULT_SCREEN_DPI);
}

void TfrmMain::Show(int showCommand)
{
    ShowWindow(handle_, showCommand);
    UpdateWindow(handle_);
    SetFocus(btStart);
    if (restart_) PostMessageW(handle_, kStartRequestedRun, 0, 0);
}

HWND TfrmMain::CreateControl(const wchar_t* className, const wchar_t* text, DWORD style, int id, RECT bounds)
{
    HWND control = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, Scale(bounds.left),
                                   Scale(bounds.top), Scale(bounds.right), Scale(bounds.bottom), handle_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), application_.Instance(), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return control;
}

void TfrmMain::CreateControls()
{
    font_.reset(CreateFontW(-Scale(12), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"宋体"));
    HWND* fields[] = {&Label3, &Label2, &Label6, &Image1, &btStart, &lblMessage};
    for (size_t i = 0; i < std::size(kLayout); ++i) {
        const ControlLayout& control = kLayout[i];
        *fields[i] = CreateControl(control.className, control.text, control.style, control.id, control.bounds);
    }
    SetWindowSubclass(btStart, ClickOnEnter, 0, 0);
    picture_.reset(static_cast<HBITMAP>(
        LoadImageW(application_.Instance(), MAKEINTRESOURCEW(IDB_IMAGE1), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
    SendMessageW(Image1, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_.get()));
    // The static control resizes itself to the bitmap; the box keeps its place and size, the picture stretched.
    SetWindowPos(Image1, nullptr, Scale(0), Scale(16), Scale(128), Scale(128), SWP_NOZORDER | SWP_NOACTIVATE);
}

void TfrmMain::btStartClick()
{
    const auto closePrograms = [this] { return CloseRunningPrograms(); };
    TInstallFlow(*this, ProgramDirectory(), *xml, *zipExtractor, closePrograms, TElevation(restart_.has_value())).Run();
}

void TfrmMain::FormKeyDown(WORD key, TShiftState)
{
    // Author mode is the marker file, looked for first on every key press; any modifier keys go with F2.
    const std::string programDirectory = ProgramDirectory();
    if (!FileExists(programDirectory + std::string(layout::kAuthorMarker)) || key != kBuildKey) return;
    TPackageBuild(*this, programDirectory, *xml, *zipPacker, PublishPackage(programDirectory),
                  TElevation(restart_.has_value()))
        .Run();
}

bool TfrmMain::CloseRunningPrograms()
{
    return AskSuiteProgramsToClose();
}

TPublication TfrmMain::PublishPackage(const std::string& programDirectory)
{
    return TPublication(*cnnServer, programDirectory);
}

void TfrmMain::SetStatus(const std::string& text)
{
#ifdef TAVILO_FAULT_INJECTION
    FaultPlan::TraceStatus(text);
#endif
    SetWindowTextW(lblMessage, Widen(text).c_str());
}

void TfrmMain::Notify(const Notice& notice)
{
    ShowNotice(notice.owner == NoticeOwner::Application ? application_.Handle() : handle_, notice);
}

void TfrmMain::PaintNow()
{
    UpdateWindow(handle_);
}

void TfrmMain::HandOver()
{
    PostMessageW(handle_, WM_CLOSE, 0, 0);
}

void TfrmMain::RunRequestedRun()
{
    const UniqueHandle predecessor(OpenProcess(SYNCHRONIZE, FALSE, restart_->startedBy));
    for (int wait = 0; predecessor && wait < kPredecessorWaits; ++wait) {
        if (WaitForSingleObject(predecessor.get(), 0) != WAIT_TIMEOUT) break;
        DelayWithMessages();
    }
    if (restart_->run == ElevatedRun::Install) {
        btStartClick();
    } else {
        FormKeyDown(kBuildKey, {});
    }
}

template <typename Flow>
void TfrmMain::RunFlow(Flow&& flow)
{
    if (flowRunning_) return;
    FlowScope scope(flowRunning_);
    flow();
}

LRESULT CALLBACK TfrmMain::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* form = static_cast<TfrmMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->handle_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TfrmMain*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        form->handle_ = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }

    // The one place where errors that escape a handler are caught: no exception may cross into Windows.
    try {
        return form->HandleMessage(message, wParam, lParam);
    } catch (const std::exception& error) {
        form->application_.ShowException(window, error);
    } catch (...) {
        form->application_.ShowException(window, std::runtime_error("Unknown error"));
    }
    return 0;
}

LRESULT TfrmMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateControls();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_BTSTART && HIWORD(wParam) == BN_CLICKED) RunFlow([this] { btStartClick(); });
        return 0;
    case kStartRequestedRun:
        RunFlow([this] { RunRequestedRun(); });
        return 0;
    case WM_KEYPREVIEW:
        RunFlow([this, wParam] { FormKeyDown(static_cast<WORD>(wParam), CurrentShiftState()); });
        return 0;
    case WM_SETFOCUS:
        SetFocus(btStart);
        return 0;
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(background_.get());
    case WM_CLOSE:
        // Closing in the middle of an install would leave it half done: the flow finishes and reports first.
        if (!flowRunning_) DestroyWindow(handle_);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(handle_, message, wParam, lParam);
    }
}
