#include "SharedRoutines.h"

#include <windows.h>

#include "Errors.h"
#include "MessagePump.h"
#include "Paths.h"

void DelayWithMessages()
{
    for (int i = 0; i < 10; ++i) {
        Sleep(10);
        ProcessMessages();
    }
}

void CreateDirectoryPath(std::string path)
{
    for (const std::string& directory : DirectoryPrefixes(path)) {
        if (!DirectoryExists(directory) && !CreateDirectoryW(ToApiPath(directory).c_str(), nullptr)) {
            throw EInOutError(GetLastError());
        }
    }
}
