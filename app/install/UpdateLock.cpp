#include "install/UpdateLock.h"

#include "Notice.h"
#include "Paths.h"
#include "ProgramLayout.h"
#include "install/FileOperations.h"
#include "install/InstallTexts.h"

#ifdef TAVILO_FAULT_INJECTION
#include "install/FaultPlan.h"
#endif

UpdateLock UpdateLock::Take(const std::string& programDirectory)
{
    std::string temp = programDirectory + std::string(layout::kTemp);
    temp.pop_back();
    if (IsLink(temp)) return UpdateLock(nullptr);
#ifdef TAVILO_FAULT_INJECTION
    // The first write, refused as under Program Files: Temp\ made, or else the lock in it.
    if (FaultPlan::DeniesWrites()) {
        const std::string denied = DirectoryExists(temp) ? programDirectory + std::string(layout::kUpdateLock) : temp;
        throw ERefusal(ErrorNotice(install_text::LockNotTaken(denied, ERROR_ACCESS_DENIED)));
    }
#endif
    if (!DirectoryExists(temp) && !CreateDirectoryW(ToApiPath(temp).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        throw ERefusal(ErrorNotice(install_text::LockNotTaken(temp, GetLastError())));
    }
    const std::string path = programDirectory + std::string(layout::kUpdateLock);
    UniqueHandle file = OwnHandle(CreateFileW(ToApiPath(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION) throw ERefusal(ErrorNotice(install_text::kAnotherUpdaterRunning));
        throw ERefusal(ErrorNotice(install_text::LockNotTaken(path, error)));
    }
    return UpdateLock(std::move(file));
}
