// The log a support desk reads when a user calls: Temp\Update.log, one line per event of every install and F2 build
// ("2026-12-09 18:03:07.123 [pid] text"), UTF-8 with a byte order mark and CRLF so that Notepad opens it.
//
// Writing it never changes what a run does or says: every failure to write is ignored, and its writes are not the
// install's counted file operations. It is opened shared (two copies of the updater append side by side) and never
// written through a link at Temp\. No connection string is ever handed to it, and a password it is told to conceal
// never reaches the file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Handles.h"
#include "Notice.h"

class UpdateLog {
public:
    static constexpr unsigned long long kRotationSize = 1024 * 1024;

    // Starts a run's log with its first line: what runs (`run`), where, and this program's file version. Lines wait
    // in memory until the run holds the install lock, or shows a message before it, so that a run's lines stay in
    // one file; while Temp\ is not there they keep waiting: the log never makes it.
    UpdateLog(std::string programDirectory, std::string_view run);
    UpdateLog(const UpdateLog&) = delete;
    UpdateLog& operator=(const UpdateLog&) = delete;

    // Once the run holds the install lock: a log past kRotationSize becomes Update.log.1 (replacing an older one)
    // and a new one starts; the lines waiting are written.
    void StartUnderLock() noexcept;

    // From here on, every line shows "***" where this text (a password) would stand.
    void Conceal(const std::string& secret) noexcept;

    void Line(std::string_view text) noexcept;
    // "<what> <path>: <the system's text>（错误 N）", the reason as the program's messages give it.
    void Failure(std::string_view what, std::string_view path, unsigned long code) noexcept;
    // "<what>: <path>, <size> bytes, SHA-256 <sha256>": which package support is looking at.
    void Package(std::string_view what, const std::string& path, const std::string& sha256) noexcept;
    // The exact text of a message box the user is shown, with the time since the run started.
    void Shown(const Notice& notice) noexcept;
    // An error the program did not expect, shown by the application's own box with this text.
    void Unexpected(std::string_view shownText) noexcept;

private:
    bool TempIsOurs() const;
    void Open() noexcept;
    void Write(const std::string& bytes) noexcept;
    std::string SinceStart() const;

    std::string programDirectory_;
    unsigned long long startTicks_;
    UniqueHandle file_;
    std::string waiting_;  // lines made before the file could be opened
    std::vector<std::string> secrets_;
};
