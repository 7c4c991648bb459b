#include "install/UpdateLog.h"

#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "Paths.h"
#include "ProgramLayout.h"
#include "Text.h"
#include "install/FileOperations.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string LocalTimestamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

// One event, one line: a line break inside a message would read as the start of another event.
std::string OnOneLine(std::string_view text, const std::vector<std::string>& secrets)
{
    std::string line(text);
    for (char& c : line) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    for (const std::string& secret : secrets) {
        for (size_t at = line.find(secret); at != std::string::npos; at = line.find(secret, at)) {
            line.replace(at, secret.size(), "***");
        }
    }
    return line;
}

// The file version in the running program's version resource, "1.0.0.0"; "unknown" without one.
std::string OwnFileVersion()
{
    const std::wstring path = ExecutablePath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<char> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, info.data()) ||
        !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed) {
        return "unknown";
    }
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
}

std::optional<unsigned long long> FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(ToApiPath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

UpdateLog::UpdateLog(std::string programDirectory, std::string_view run)
    : programDirectory_(std::move(programDirectory)), startTicks_(GetTickCount64())
{
    try {
        Line("start: " + std::string(run) + " in " + programDirectory_ + ", " +
             ExtractFileName(Narrow(ExecutablePath())) + " version " + OwnFileVersion());
    } catch (...) {
    }
}

bool UpdateLog::TempIsOurs() const
{
    // Never through a link: whatever it points to is not ours to write.
    std::string temp = programDirectory_ + std::string(layout::kTemp);
    temp.pop_back();
    return DirectoryExists(temp) && !IsLink(temp);
}

void UpdateLog::StartUnderLock() noexcept
{
    try {
        const std::string path = programDirectory_ + std::string(layout::kUpdateLog);
        if (FileSize(path).value_or(0) > kRotationSize && TempIsOurs()) {
            file_.reset();
            const std::string older = programDirectory_ + std::string(layout::kOlderUpdateLog);
            MoveFileExW(ToApiPath(path).c_str(), ToApiPath(older).c_str(), MOVEFILE_REPLACE_EXISTING);
        }
        Open();
    } catch (...) {
    }
}

void UpdateLog::Open() noexcept
{
    if (file_) return;
    try {
        const std::string path = programDirectory_ + std::string(layout::kUpdateLog);
        if (!TempIsOurs() || IsLink(path)) return;
        file_ = OwnHandle(CreateFileW(ToApiPath(path).c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) return;
        const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
        const std::string waiting = std::exchange(waiting_, {});
        Write((created ? std::string(kByteOrderMark) : std::string()) + waiting);
    } catch (...) {
    }
}

void UpdateLog::Write(const std::string& bytes) noexcept
{
    if (!file_) {
        try {
            waiting_ += bytes;
        } catch (...) {
        }
        return;
    }
    DWORD written = 0;
    WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void UpdateLog::Line(std::string_view text) noexcept
{
    try {
        Write(LocalTimestamp() + " [" + std::to_string(GetCurrentProcessId()) + "] " + OnOneLine(text, secrets_) +
              "\r\n");
    } catch (...) {
    }
}

void UpdateLog::Conceal(const std::string& secret) noexcept
{
    try {
        if (!secret.empty()) secrets_.push_back(secret);
    } catch (...) {
    }
}

void UpdateLog::Failure(std::string_view what, std::string_view path, unsigned long code) noexcept
{
    try {
        Line(std::string(what) + " " + std::string(path) + ": " + SystemReason(code));
    } catch (...) {
    }
}

void UpdateLog::Package(std::string_view what, const std::string& path, const std::string& sha256) noexcept
{
    try {
        const std::optional<unsigned long long> size = FileSize(path);
        Line(std::string(what) + ": " + path + ", " + (size ? std::to_string(*size) + " bytes" : "size unknown") +
             ", SHA-256 " + sha256);
    } catch (...) {
    }
}

void UpdateLog::Shown(const Notice& notice) noexcept
{
    try {
        const char* icon = notice.icon == NoticeIcon::Error ? "error" : "information";
        Open();  // a message before the lock ends the run: its lines are written now, in whatever log there is
        Line("message (" + std::string(icon) + ") after " + SinceStart() + ": " + notice.text);
    } catch (...) {
    }
}

void UpdateLog::Unexpected(std::string_view shownText) noexcept
{
    try {
        Open();
        Line("unexpected error (the application's error box) after " + SinceStart() + ": " + std::string(shownText));
    } catch (...) {
    }
}

std::string UpdateLog::SinceStart() const
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(GetTickCount64() - startTicks_) / 1000.0);
    return text;
}
