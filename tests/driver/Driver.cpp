#include "Driver.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace driver {

namespace fs = std::filesystem;

std::string Narrow(const std::wstring& text)
{
    if (text.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text)
{
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring BinDirectory()
{
    wchar_t buffer[4096];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    std::wstring path(buffer, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return condition();
        Sleep(20);
    }
    return true;
}

// ---- directories ----------------------------------------------------------------------------------------------

TempDir::TempDir(const std::wstring& nested) : TempDir()
{
    if (nested.empty()) return;
    path_ += nested + L"\\";
    fs::create_directories(fs::path(path_));
}

TempDir::TempDir()
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        path_ = std::wstring(base) + L"tavilo-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter) + L"\\";
        if (CreateDirectoryW(path_.c_str(), nullptr)) {
            root_ = path_;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create a temporary directory");
    }
}

TempDir::~TempDir()
{
    // The long-path form, so that trees deeper than MAX_PATH go too.
    const fs::path root = L"\\\\?\\" + root_;
    std::error_code ignored;
    // Read-only files (a test may leave one) would stop the removal.
    for (auto it = fs::recursive_directory_iterator(root, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(root, ignored);
}

fs::path TempDir::Folder() const
{
    return fs::path(path_.substr(0, path_.size() - 1));
}

fs::path TempDir::operator/(const std::string& relativeUtf8) const
{
    return Folder() / fs::path(Widen(relativeUtf8));
}

void TempDir::WriteFile(const std::wstring& relative, const std::string& bytes) const
{
    const fs::path target = fs::path(path_ + relative);
    fs::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + Narrow(relative));
}

std::string TempDir::ReadFile(const std::wstring& relative) const
{
    std::ifstream in(fs::path(path_ + relative), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + Narrow(relative));
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool TempDir::Exists(const std::wstring& relative) const
{
    return GetFileAttributesW((path_ + relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void TempDir::Remove(const std::wstring& relative) const
{
    std::error_code ignored;
    fs::remove_all(fs::path(path_ + relative), ignored);
}

std::vector<std::string> SupportLogEvents(const TempDir& directory)
{
    const DWORD attributes = GetFileAttributesW((directory / L"Temp\\Update.log").c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    const std::string text = directory.ReadFile(L"Temp\\Update.log");
    if (text.rfind("\xEF\xBB\xBF", 0) != 0) throw std::runtime_error("the log has no byte order mark");
    static const std::regex prefix(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[\d+\] )");
    std::vector<std::string> events;
    for (size_t start = 3; start < text.size();) {
        const size_t end = text.find("\r\n", start);
        const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::smatch match;
        // The prefix only: std::regex recurses over what it matches, and a long line would exhaust the stack.
        const std::string opening = line.substr(0, 64);
        if (end == std::string::npos || line.find('\n') != std::string::npos ||
            !std::regex_search(opening, match, prefix, std::regex_constants::match_continuous)) {
            throw std::runtime_error("a line of the log is not \"date time.ms [pid] event\" + CRLF: " + opening);
        }
        events.push_back(line.substr(match.length(0)));
        start = end + 2;
    }
    return events;
}

std::string FirstMissingInOrder(const std::vector<std::string>& events, const std::vector<std::string>& parts)
{
    auto event = events.begin();
    for (const std::string& part : parts) {
        event = std::find_if(event, events.end(), [&](const std::string& e) { return e.find(part) != e.npos; });
        if (event == events.end()) return part;
        ++event;
    }
    return {};
}

ProgramDir::ProgramDir(std::wstring programFiles, const std::wstring& nested)
    : TempDir(nested), programFiles_(std::move(programFiles))
{
    for (const wchar_t* file : {L"Update.exe", L"zip32.dll", L"unzip32.dll"}) CopyFromBin(file);
}

void ProgramDir::CopyFromBin(const std::wstring& name) const
{
    if (!CopyFileW((programFiles_ + name).c_str(), (Path() + name).c_str(), FALSE)) {
        throw std::runtime_error("cannot copy " + Narrow(name) + " into the program directory");
    }
}

// ---- processes ------------------------------------------------------------------------------------------------

// Every program a test starts belongs to one job that ends with the test's process. A test that ctest kills at its
// timeout would otherwise leave a stand-in suite program running, and every later install would be told to close
// it first.
HANDLE MakeTestJob()
{
    const HANDLE made = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (made == nullptr || !SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        throw std::runtime_error("cannot make the tests' job object: error " + std::to_string(GetLastError()));
    }
    return made;
}

// Puts a suspended process in the tests' job. Under load Wine has once answered ERROR_INVALID_HANDLE here; a fresh
// job is tried then, and a process that still cannot join runs without it (said on the test's output): the job
// only guards against a test killed at its timeout, and TestJob.* proves that it works.
void JoinTestJob(HANDLE process, const std::wstring& executable)
{
    static HANDLE job = MakeTestJob();
    if (AssignProcessToJobObject(job, process)) return;
    job = MakeTestJob();
    if (AssignProcessToJobObject(job, process)) return;
    fprintf(stderr, "driver: %s runs outside the tests' job (error %lu)\n", Narrow(executable).c_str(), GetLastError());
}

BOOL StartProcess(const wchar_t* application, std::wstring& commandLine, BOOL inheritHandles, DWORD flags,
                  const wchar_t* directory, STARTUPINFOW& startup, PROCESS_INFORMATION& info)
{
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(application, commandLine.data(), nullptr, nullptr, inheritHandles, flags, nullptr, directory,
                           &startup, &info)) {
            return TRUE;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == kAttempts) {
            SetLastError(error);
            return FALSE;
        }
        fprintf(stderr, "driver: Wine could not set up %s (error %lu); starting it again\n",
                Narrow(commandLine).c_str(), error);
        Sleep(100);
    }
}

Process::Process(const std::wstring& executable, const std::wstring& arguments, const std::wstring& directory)
{
    std::wstring commandLine = L"\"" + executable + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    // The child writes to the test's own output, so that what Wine reports of a crash lands in the test log.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (!StartProcess(executable.c_str(), commandLine, TRUE, CREATE_SUSPENDED,
                      directory.empty() ? nullptr : directory.c_str(), startup, info_)) {
        throw std::runtime_error("cannot start " + Narrow(executable) + ": error " + std::to_string(GetLastError()));
    }
    // Suspended until it is in the job, so that nothing it starts escapes it.
    JoinTestJob(info_.hProcess, executable);
    ResumeThread(info_.hThread);
}

Process::Process(Process&& other) noexcept : info_(other.info_)
{
    other.info_ = {};
}

Process::~Process()
{
    if (info_.hProcess == nullptr) return;
    if (!Wait(0ms)) Kill();
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

bool Process::Wait(std::chrono::milliseconds timeout)
{
    return WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

void Process::Kill()
{
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
}

// ---- windows --------------------------------------------------------------------------------------------------

HWND FindProcessWindow(DWORD processId, const wchar_t* className, const wchar_t* caption)
{
    struct Search {
        DWORD processId;
        const wchar_t* className;
        const wchar_t* caption;
        HWND found;
    } search{processId, className, caption, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) CALLBACK -> BOOL {
            auto& s = *reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != s.processId || !IsWindowVisible(window)) return TRUE;
            if (s.className != nullptr) {
                wchar_t name[64];
                GetClassNameW(window, name, 64);
                if (std::wstring(name) != s.className) return TRUE;
            }
            if (s.caption != nullptr && WindowText(window) != s.caption) return TRUE;
            s.found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring WindowText(HWND window)
{
    wchar_t buffer[1024];
    const int length = GetWindowTextW(window, buffer, static_cast<int>(std::size(buffer)));
    return std::wstring(buffer, static_cast<size_t>(length > 0 ? length : 0));
}

// A 32-bit top-down bitmap of the area's size.
static BITMAPINFOHEADER TopDown32(const RECT& area)
{
    return {sizeof(BITMAPINFOHEADER), area.right - area.left, -(area.bottom - area.top), 1, 32, BI_RGB, 0, 0, 0, 0, 0};
}

// The pixels of a part of the screen, row by row from the top.
static std::vector<RGBQUAD> CaptureScreen(const RECT& area)
{
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, previous);
    BITMAPINFOHEADER header = TopDown32(area);
    std::vector<RGBQUAD> pixels(static_cast<size_t>(width) * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// The message box's icon, told by its colours on the screen: icon handles of another process cannot be
// compared with ours under Wine. Error is red, information blue, warning yellow.
static BoxIcon IconOf(HWND box)
{
    HWND iconControl = nullptr;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM found) CALLBACK -> BOOL {
            if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
            *reinterpret_cast<HWND*>(found) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&iconControl));
    if (iconControl == nullptr || !IsWindowVisible(iconControl)) return BoxIcon::None;

    RECT area;
    GetWindowRect(iconControl, &area);
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return BoxIcon::None;
    const std::vector<RGBQUAD> pixels = CaptureScreen(area);

    int red = 0, blue = 0, yellow = 0;
    for (const RGBQUAD& p : pixels) {
        if (p.rgbRed > 150 && p.rgbGreen < 110 && p.rgbBlue < 110)
            ++red;
        else if (p.rgbBlue > 150 && p.rgbRed < 110)
            ++blue;
        else if (p.rgbRed > 180 && p.rgbGreen > 150 && p.rgbBlue < 90)
            ++yellow;
    }
    const int least = static_cast<int>(pixels.size() / 20);
    if (red >= least && red >= blue && red >= yellow) return BoxIcon::Error;
    if (yellow >= least && yellow >= blue) return BoxIcon::Warning;
    if (blue >= least) return BoxIcon::Information;
    return BoxIcon::None;
}

void MessageBoxInfo::Dismiss() const
{
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    WaitUntil([this] { return !IsWindow(window); }, 5s);
}

std::optional<MessageBoxInfo> FindMessageBox(DWORD processId)
{
    HWND box = FindProcessWindow(processId, L"#32770");
    if (box == nullptr) return std::nullopt;
    MessageBoxInfo info;
    info.window = box;
    info.caption = WindowText(box);
    wchar_t text[4096];
    const UINT length = GetDlgItemTextW(box, 0xFFFF, text, static_cast<int>(std::size(text)));
    info.text.assign(text, length);
    info.icon = IconOf(box);
    return info;
}

std::optional<MessageBoxInfo> WaitForMessageBox(DWORD processId, std::chrono::milliseconds timeout)
{
    std::optional<MessageBoxInfo> box;
    WaitUntil([&] { return (box = FindMessageBox(processId)).has_value(); }, timeout);
    // The text is filled in when the box is shown; read it again once it is there.
    if (box) {
        Sleep(50);
        box = FindMessageBox(processId);
    }
    return box;
}

// ---- the updater ----------------------------------------------------------------------------------------------

UpdateApp::UpdateApp(const ProgramDir& directory) : UpdateApp(directory, L"Update.exe", L"")
{
}

UpdateApp::UpdateApp(const ProgramDir& directory, const std::wstring& executable, const std::wstring& arguments)
    : process_(directory.Path() + executable, arguments, directory.Path())
{
    WaitUntil([this] { return (form_ = FindProcessWindow(process_.Id(), nullptr, kCaption)) != nullptr; }, 20s);
    if (form_ == nullptr) throw std::runtime_error("Update.exe showed no window");
    WaitForInputIdle(process_.Handle(), 5000);
}

UpdateApp::~UpdateApp()
{
    if (!process_.Wait(0ms)) {
        while (auto box = FindMessageBox(process_.Id())) box->Dismiss();
        if (!Closes(5s)) process_.Kill();
    }
}

std::wstring UpdateApp::Status() const
{
    return WindowText(GetDlgItem(form_, 106));
}

void UpdateApp::ClickStart() const
{
    PostMessageW(GetDlgItem(form_, 105), BM_CLICK, 0, 0);
}

void UpdateApp::PostKey(WORD key) const
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(form_, nullptr), &info);
    HWND target = info.hwndFocus != nullptr ? info.hwndFocus : form_;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

void UpdateApp::TypeKey(WORD key, bool shift, bool ctrl, bool alt) const
{
    TypeKeyInto(form_, key, shift, ctrl, alt);
}

void TypeKeyInto(HWND window, WORD key, bool shift, bool ctrl, bool alt)
{
    SetForegroundWindow(window);
    WaitUntil([window] { return GetForegroundWindow() == window; }, 2s);
    std::vector<INPUT> inputs;
    auto add = [&inputs](WORD vk, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    const WORD modifiers[] = {shift ? WORD(VK_SHIFT) : WORD(0), ctrl ? WORD(VK_CONTROL) : WORD(0),
                              alt ? WORD(VK_MENU) : WORD(0)};
    for (WORD m : modifiers)
        if (m) add(m, false);
    add(key, false);
    add(key, true);
    for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it)
        if (*it) add(*it, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

MessageBoxInfo UpdateApp::ExpectMessageBox(std::chrono::milliseconds timeout) const
{
    auto box = WaitForMessageBox(process_.Id(), timeout);
    if (!box) throw std::runtime_error("Update.exe showed no message box");
    return *box;
}

bool UpdateApp::Closes(std::chrono::milliseconds timeout)
{
    PostMessageW(form_, WM_CLOSE, 0, 0);
    return process_.Wait(timeout);
}

// ---- screenshots ----------------------------------------------------------------------------------------------

RECT AreaAround(HWND window)
{
    RECT area;
    GetWindowRect(window, &area);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (HWND box = FindProcessWindow(processId, L"#32770")) {
        RECT boxArea;
        GetWindowRect(box, &boxArea);
        UnionRect(&area, &area, &boxArea);
    }
    InflateRect(&area, 16, 16);
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&area, &area, &screen);
    return area;
}

void SaveScreenshot(const std::wstring& path, RECT area)
{
    if (IsRectEmpty(&area)) area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    std::vector<RGBQUAD> pixels = CaptureScreen(area);
    for (RGBQUAD& pixel : pixels) pixel.rgbReserved = 0xFF;  // opaque: viewers read the fourth byte as alpha
    const BITMAPINFOHEADER header = TopDown32(area);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size() * sizeof(RGBQUAD));
    std::ofstream out(fs::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(reinterpret_cast<const char*>(pixels.data()),
              static_cast<std::streamsize>(pixels.size() * sizeof(RGBQUAD)));
}

}  // namespace driver
