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
    std::string prefix;
    for (auto separator = path.find('\\'); separator != std::string::npos; separator = path.find('\\')) {
        prefix += path.substr(0, separator) + '\\';
        path.erase(0, separator + 1);
        if (!DirectoryExists(prefix) && !CreateDirectoryW(ToApiPath(prefix).c_str(), nullptr)) {
            throw EInOutError(GetLastError());
        }
    }
}
