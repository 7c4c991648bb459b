// The application object: the message loop, the hidden window that owns the archive libraries' messages, and
// the default handler for errors that escape an event handler.
#pragma once

#include <exception>
#include <string>
#include <windows.h>

#include "Errors.h"

class TApplication {
public:
    explicit TApplication(HINSTANCE instance);
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    HINSTANCE Instance() const { return instance_; }
    HWND Handle() const { return handle_; }  // the hidden top-level window
    std::wstring Title() const;

    // Runs the message loop until the main window closes; returns the exit code.
    int Run();

    // The default error handler: shows the error's text, with the error icon, and returns.
    void ShowException(HWND owner, const std::exception& error) const;

private:
    HINSTANCE instance_;
    HWND handle_ = nullptr;
};

// The default handler's box, also for errors before there is an application object: the error's text with the
// full-stop rule, the application's title as caption, the error icon.
void ShowErrorBox(HWND owner, const std::exception& error);

// A window-system call failed: what was attempted and the system's error number.
Exception WindowsError(const std::string& what, unsigned long code);

// The text the default error handler shows: a full stop is added when the last character sorts after it.
std::string WithFullStop(std::string text);

// The application's title: the executable's file name up to its first full stop, every character after the
// first in lower case.
std::wstring TitleFromExecutablePath(const std::wstring& path);
