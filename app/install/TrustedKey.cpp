#include "install/TrustedKey.h"

#include <windows.h>

#include "Paths.h"
#include "ProgramLayout.h"

#ifdef TAVILO_FAULT_INJECTION
#include "install/FaultPlan.h"
#endif

namespace {

// The system's answer about the path: 0 when something is there, else why not.
DWORD LookUp(const std::string& path)
{
#ifdef TAVILO_FAULT_INJECTION
    // Wine answers every such question for a file it can see; the test build can be told to be refused.
    if (FaultPlan::RefusesAttributesOf(path)) return ERROR_ACCESS_DENIED;
#endif
    if (GetFileAttributesW(ToApiPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
    return GetLastError();
}

}  // namespace

std::string TrustedKeyPath(const std::string& programDirectory)
{
    return programDirectory + std::string(layout::kTrustedKey);
}

bool TrustedKeyPresent(const std::string& programDirectory)
{
    const DWORD answer = LookUp(TrustedKeyPath(programDirectory));
    return answer != ERROR_FILE_NOT_FOUND && answer != ERROR_PATH_NOT_FOUND;
}
