#include "install/FaultPlan.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <optional>
#include <shellapi.h>

#include "Handles.h"
#include "Paths.h"
#include "Text.h"

namespace {

struct ArgvFreer {
    void operator()(wchar_t** argv) const { LocalFree(argv); }
};

unsigned ParseCount(std::wstring_view text)
{
    return static_cast<unsigned>(std::wcstoul(std::wstring(text).c_str(), nullptr, 10));
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

FaultPlan FaultPlan::FromCommandLine()
{
    FaultPlan plan;
    int count = 0;
    std::unique_ptr<wchar_t*, ArgvFreer> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    for (int i = 1; argv && i < count; ++i) {
        const std::wstring_view argument = argv.get()[i];
        auto value = [&](std::wstring_view option) -> std::optional<std::wstring_view> {
            if (argument.substr(0, option.size()) != option) return std::nullopt;
            return argument.substr(option.size());
        };
        if (auto k = value(L"--kill-at=")) {
            plan.killAt_ = ParseCount(*k);
        } else if (auto list = value(L"--fail-at=")) {
            for (size_t start = 0; start <= list->size();) {
                const size_t comma = std::min(list->find(L',', start), list->size());
                plan.failAt_.insert(ParseCount(list->substr(start, comma - start)));
                start = comma + 1;
            }
        } else if (auto k = value(L"--fail-after-at=")) {
            plan.failAfterAt_ = ParseCount(*k);
        } else if (auto k = value(L"--alter-at=")) {
            plan.alterAt_ = ParseCount(*k);
        } else if (auto pause = value(L"--pause-at=")) {
            const size_t comma = std::min(pause->find(L','), pause->size());
            plan.pauseAt_ = ParseCount(pause->substr(0, comma));
            plan.resumeWhen_ = pause->substr(std::min(comma + 1, pause->size()));
        } else if (auto name = value(L"--refuse-attributes=")) {
            plan.refuseAttributes_ = Narrow(*name);
        } else if (auto name = value(L"--alter-before-packing=")) {
            plan.alterBeforePacking_ = Narrow(*name);
        } else if (argument == L"--deny-writes") {
            plan.denyWrites_ = true;
        } else if (auto elevated = value(L"--token-elevated=")) {
            plan.tokenElevated_ = *elevated == L"1";
        } else if (argument == L"--decline-elevation") {
            plan.elevationError_ = ERROR_CANCELLED;
        } else if (auto code = value(L"--elevation-fails=")) {
            plan.elevationError_ = ParseCount(*code);
        } else if (auto path = value(L"--trace=")) {
            plan.trace_ = *path;
        }
    }
    return plan;
}

FaultPlan::Action FaultPlan::Next(std::string_view operation, const std::string& path, const std::string& other)
{
    ++counter_;
    std::string line = std::to_string(counter_) + "\t" + std::string(operation) + "\t" + path;
    if (!other.empty()) line += "\t" + other;
    Trace(line);
    if (counter_ == alterAt_) Alter(path);
    if (counter_ == pauseAt_) {
        for (int waited = 0; waited < 1200 && GetFileAttributesW(resumeWhen_.c_str()) == INVALID_FILE_ATTRIBUTES;
             ++waited) {
            Sleep(50);
        }
    }
    if (counter_ == killAt_) return Action::Kill;
    if (failAt_.count(counter_) != 0) return Action::Fail;
    if (counter_ == failAfterAt_) return Action::FailAfter;
    return Action::Proceed;
}

bool FaultPlan::RefusesAttributesOf(const std::string& path)
{
    const std::string& name = FromCommandLine().refuseAttributes_;
    return !name.empty() && EndsWith(path, name);
}

bool FaultPlan::DeniesWrites()
{
    return FromCommandLine().denyWrites_;
}

std::optional<bool> FaultPlan::FakedElevation()
{
    return FromCommandLine().tokenElevated_;
}

std::optional<DWORD> FaultPlan::ElevationError()
{
    return FromCommandLine().elevationError_;
}

void FaultPlan::TraceRestart(DWORD processId, const std::wstring& parameters)
{
    FromCommandLine().Trace("restart\t" + std::to_string(processId) + "\t" + Narrow(parameters));
}

void FaultPlan::AlterBeforePacking(const std::vector<std::string>& paths)
{
    const std::string& name = FromCommandLine().alterBeforePacking_;
    if (name.empty()) return;
    for (const std::string& path : paths) {
        if (EndsWith(path, name)) Alter(path);
    }
}

void FaultPlan::Alter(const std::string& path)
{
    constexpr std::string_view kAltered = " (altered)";
    const UniqueHandle file = OwnHandle(CreateFileW(ToApiPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.get(), kAltered.data(), static_cast<DWORD>(kAltered.size()), &written, nullptr);
}

void FaultPlan::TraceStatus(const std::string& text)
{
    FromCommandLine().Trace("status\t" + text);
}

void FaultPlan::Trace(const std::string& line) const
{
    if (trace_.empty()) return;
    const std::string record = line + "\n";
    const UniqueHandle file = OwnHandle(CreateFileW(trace_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
}
