#include "Elevation.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <shellapi.h>

#include "Handles.h"
#include "Notice.h"
#include "Paths.h"
#include "install/FileOperations.h"
#include "install/InstallTexts.h"

#ifdef TAVILO_FAULT_INJECTION
#include "install/FaultPlan.h"
#endif

namespace {

constexpr std::wstring_view kSwitch = L"--elevated=";
constexpr std::wstring_view kInstall = L"install,";
constexpr std::wstring_view kBuild = L"build,";

struct ArgvFreer {
    void operator()(wchar_t** argv) const { LocalFree(argv); }
};

// A probe file, made and removed at once (deleted on close, however the process ends). A missing folder is made
// by the run in the one that holds it, and a link is refused by the run before it writes anything.
bool DeniesNewFile(const std::string& folder)
{
#ifdef TAVILO_FAULT_INJECTION
    // Wine running as root is never denied; the test build can be, as a standard account under Program Files is.
    if (FaultPlan::DeniesWrites()) return true;
#endif
    if (!DirectoryExists(folder) || IsLink(folder.substr(0, folder.size() - 1))) return false;
    const std::string probe = folder + "Update-" + std::to_string(GetCurrentProcessId()) + ".probe";
    const UniqueHandle file = OwnHandle(CreateFileW(ToApiPath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return !file && GetLastError() == ERROR_ACCESS_DENIED;
}

bool ProcessIsElevated()
{
#ifdef TAVILO_FAULT_INJECTION
    // What Wine says of the token is not the question a test asks.
    if (auto faked = FaultPlan::FakedElevation()) return *faked;
#endif
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const UniqueHandle owned(token);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

std::wstring RestartSwitch(ElevatedRun run)
{
    return std::wstring(kSwitch) + std::wstring(run == ElevatedRun::Install ? kInstall : kBuild) +
           std::to_wstring(GetCurrentProcessId());
}

// Starts this program again through the consent prompt; 0, or why not (ERROR_CANCELLED: the user said no).
DWORD StartElevated(ElevatedRun run)
{
#ifdef TAVILO_FAULT_INJECTION
    if (auto error = FaultPlan::ElevationError()) return *error;
#endif
    const std::wstring executable = ExecutablePath();
    const std::wstring parameters = RestartSwitch(run);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = GetActiveWindow();  // the window just clicked owns the prompt
    info.lpVerb = L"runas";
    info.lpFile = executable.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return GetLastError();
    const UniqueHandle process(info.hProcess);
#ifdef TAVILO_FAULT_INJECTION
    FaultPlan::TraceRestart(process ? GetProcessId(process.get()) : 0, parameters);
#endif
    return 0;
}

}  // namespace

bool DeniesNewFiles(const std::vector<std::string>& folders)
{
    return std::any_of(folders.begin(), folders.end(), DeniesNewFile);
}

std::optional<RestartRequest> RestartRequestFromCommandLine()
{
    int count = 0;
    const std::unique_ptr<wchar_t*, ArgvFreer> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    for (int i = 1; argv && i < count; ++i) {
        std::wstring_view argument = argv.get()[i];
        if (!argument.starts_with(kSwitch)) continue;
        argument.remove_prefix(kSwitch.size());
        const bool install = argument.starts_with(kInstall);
        if (!install && !argument.starts_with(kBuild)) continue;
        argument.remove_prefix(install ? kInstall.size() : kBuild.size());
        const std::wstring digits(argument);
        wchar_t* end = nullptr;
        const unsigned long processId = std::wcstoul(digits.c_str(), &end, 10);
        if (digits.empty() || *end != L'\0') continue;
        return RestartRequest{install ? ElevatedRun::Install : ElevatedRun::Build, static_cast<DWORD>(processId)};
    }
    return std::nullopt;
}

bool TElevation::HandOverIfDenied(ElevatedRun run, const std::vector<std::string>& folders) const
{
    // A copy started elevated never starts another, so it need not ask the folders.
    if (restarted_ || !DeniesNewFiles(folders) || ProcessIsElevated()) return false;
    const bool build = run == ElevatedRun::Build;
    const DWORD error = StartElevated(run);
    if (error == ERROR_CANCELLED) throw ERefusal(InformationNotice(install_text::ElevationDeclined(build)));
    if (error != 0) throw ERefusal(ErrorNotice(install_text::ElevationFailed(build, error)));
    return true;
}
