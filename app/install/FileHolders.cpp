#include "install/FileHolders.h"

#include <windows.h>
#include <restartmanager.h>

#include "Handles.h"
#include "Text.h"

namespace {

using RmStartSessionFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RmEndSessionFn = DWORD(WINAPI*)(DWORD);
using RmRegisterResourcesFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using RmGetListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);

template <typename Function>
Function Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// rstrtmgr.dll from the system directory only, never one that happens to lie beside the program. Loaded at run
// time: the program must still start on systems without it.
UniqueModule LoadRestartManager()
{
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    return UniqueModule(LoadLibraryW((std::wstring(system, length) + L"\\rstrtmgr.dll").c_str()));
}

}  // namespace

bool MeansFileInUse(unsigned long code)
{
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED ||
           code == ERROR_USER_MAPPED_FILE;
}

std::vector<std::string> ProgramsHoldingFile(const std::string& path)
{
    const UniqueModule library = LoadRestartManager();
    if (!library) return {};
    const auto startSession = Resolve<RmStartSessionFn>(library.get(), "RmStartSession");
    const auto endSession = Resolve<RmEndSessionFn>(library.get(), "RmEndSession");
    const auto registerResources = Resolve<RmRegisterResourcesFn>(library.get(), "RmRegisterResources");
    const auto getList = Resolve<RmGetListFn>(library.get(), "RmGetList");
    if (!startSession || !endSession || !registerResources || !getList) return {};

    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (startSession(&session, 0, key) != ERROR_SUCCESS) return {};
    struct SessionEnd {
        RmEndSessionFn end;
        DWORD session;
        ~SessionEnd() { end(session); }
    } sessionEnd{endSession, session};

    const std::wstring file = Widen(path);
    LPCWSTR files[] = {file.c_str()};
    if (registerResources(session, 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS) return {};

    std::vector<RM_PROCESS_INFO> processes;
    DWORD reasons = 0;
    UINT needed = 0;
    UINT count = 0;
    DWORD result = ERROR_MORE_DATA;
    // The list can grow between the two calls; ask again until it fits.
    for (int attempt = 0; attempt < 5 && result == ERROR_MORE_DATA; ++attempt) {
        processes.resize(needed);
        count = static_cast<UINT>(processes.size());
        result = getList(session, &needed, &count, processes.data(), &reasons);
    }
    if (result != ERROR_SUCCESS) return {};

    std::vector<std::string> names;
    for (UINT i = 0; i < count; ++i) {
        const RM_PROCESS_INFO& process = processes[i];
        std::string name = Narrow(process.strAppName);
        if (name.empty()) name = Narrow(process.strServiceShortName);
        names.push_back(name + " (PID " + std::to_string(process.Process.dwProcessId) + ")");
    }
    return names;
}
