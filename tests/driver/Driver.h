// Helpers that drive the updater the way a user does: a throwaway program directory, the running Update.exe,
// its window and controls, the message boxes it opens, key presses and screenshots.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>

namespace driver {

using namespace std::chrono_literals;

// The directory of the running test executable, with a trailing backslash: the build puts Update.exe, the
// archive libraries and the test helpers there.
std::wstring BinDirectory();

// Polls until the condition holds or the time is up; returns the condition's last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

// A directory of its own under the temporary directory, removed with everything in it at the end. Every Windows
// test's scratch folder is one of these.
class TempDir {
public:
    TempDir();
    explicit TempDir(const std::wstring& nested);  // Path() is that folder (made) inside a fresh temporary one
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& Path() const { return path_; }  // with a trailing backslash
    std::wstring operator/(const std::wstring& relative) const { return path_ + relative; }
    // The same for the tests that work with std::filesystem: the folder without its trailing backslash, and
    // relative names in UTF-8.
    std::filesystem::path Folder() const;
    std::filesystem::path operator/(const std::string& relativeUtf8) const;

    void WriteFile(const std::wstring& relative, const std::string& bytes) const;  // creates directories
    std::string ReadFile(const std::wstring& relative) const;                      // throws when missing
    bool Exists(const std::wstring& relative) const;
    void Remove(const std::wstring& relative) const;

private:
    std::wstring root_;  // what is removed at the end
    std::wstring path_;
};

// A program directory holding a copy of Update.exe and the two archive libraries, taken from `programFiles`
// (with a trailing backslash; the build's own output by default).
class ProgramDir : public TempDir {
public:
    explicit ProgramDir(std::wstring programFiles = BinDirectory(), const std::wstring& nested = {});
    void CopyFromBin(const std::wstring& name) const;
    std::wstring Executable() const { return Path() + L"Update.exe"; }

private:
    std::wstring programFiles_;
};

// The events of the support log Temp\Update.log in a program directory, in order, each without the
// "date time.ms [pid] " that starts its line; nothing when there is no such file. Throws when the file is not as
// Notepad and support read it: no byte order mark, a line not ended by CRLF, or one without its local time and
// process id.
std::vector<std::string> SupportLogEvents(const TempDir& directory);
// The first of `parts` not found in the events in this order (each within one event, each in an event after the
// previous part's); empty when all are there.
std::string FirstMissingInOrder(const std::vector<std::string>& events, const std::vector<std::string>& parts);

// CreateProcessW as the tests call it, started again (up to five times, said on the test's output) when Wine answers
// ERROR_INTERNAL_ERROR: its new process died before it was set up, before any of the program's code ran. Measured
// once in CI, on a loaded host; a program that fails later is never started again.
BOOL StartProcess(const wchar_t* application, std::wstring& commandLine, BOOL inheritHandles, DWORD flags,
                  const wchar_t* directory, STARTUPINFOW& startup, PROCESS_INFORMATION& info);

// A process we started; ended when the object goes.
class Process {
public:
    Process(const std::wstring& executable, const std::wstring& arguments, const std::wstring& directory = {});
    ~Process();
    Process(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    DWORD Id() const { return info_.dwProcessId; }
    HANDLE Handle() const { return info_.hProcess; }
    bool Wait(std::chrono::milliseconds timeout);  // true when it has ended
    DWORD ExitCode() const;
    void Kill();

private:
    PROCESS_INFORMATION info_{};
};

// The top-level windows of a process, optionally of one class.
HWND FindProcessWindow(DWORD processId, const wchar_t* className = nullptr, const wchar_t* caption = nullptr);

std::wstring WindowText(HWND window);

enum class BoxIcon { None, Information, Error, Warning };

struct MessageBoxInfo {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    BoxIcon icon = BoxIcon::None;
    void Dismiss() const;  // presses OK
};

// A message box (#32770) open in the process, if there is one.
std::optional<MessageBoxInfo> FindMessageBox(DWORD processId);
std::optional<MessageBoxInfo> WaitForMessageBox(DWORD processId, std::chrono::milliseconds timeout = 20s);

// Update.exe running in a program directory, with its main window found.
class UpdateApp {
public:
    static constexpr const wchar_t* kCaption = L"Tavilo升级程序";

    explicit UpdateApp(const ProgramDir& directory);
    // Another build of the program in the same directory (the test build UpdateWithFaults.exe), with arguments.
    UpdateApp(const ProgramDir& directory, const std::wstring& executable, const std::wstring& arguments);
    ~UpdateApp();

    DWORD ProcessId() const { return process_.Id(); }
    Process& GetProcess() { return process_; }
    HWND Form() const { return form_; }
    HWND Control(int id) const { return GetDlgItem(form_, id); }
    std::wstring Status() const;

    void ClickStart() const;       // posted, as a click arrives
    void PostKey(WORD key) const;  // WM_KEYDOWN/WM_KEYUP to the focused control
    void TypeKey(WORD key, bool shift = false, bool ctrl = false, bool alt = false) const;  // real input

    MessageBoxInfo ExpectMessageBox(std::chrono::milliseconds timeout = 30s) const;  // fails the test if none
    bool Closes(std::chrono::milliseconds timeout = 10s);  // asks the window to close and waits for the exit

private:
    Process process_;
    HWND form_ = nullptr;
};

// Real key input (SendInput) into a window of any process, brought to the foreground first.
void TypeKeyInto(HWND window, WORD key, bool shift = false, bool ctrl = false, bool alt = false);

// Saves a part of the screen (the whole screen by default) as a 24-bit BMP.
void SaveScreenshot(const std::wstring& path, RECT area = {0, 0, 0, 0});

// The screen area around the window and every message box of its process, with a margin.
RECT AreaAround(HWND window);

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

}  // namespace driver
