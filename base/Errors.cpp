#include "Errors.h"

#include <cwctype>
#include <windows.h>

#include "Text.h"

EFileOperationError::EFileOperationError(std::string_view operation, std::string path, unsigned long code)
    : Exception(std::string(operation) + " \"" + path + "\": system error " + std::to_string(code)),
      path_(std::move(path)),
      code_(code)
{
}

bool EFileOperationError::NotFound() const
{
    return code_ == ERROR_FILE_NOT_FOUND || code_ == ERROR_PATH_NOT_FOUND;
}

std::string SystemErrorText(unsigned long code)
{
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer != nullptr ? buffer : L"", length);
    LocalFree(buffer);
    while (!text.empty() && (std::iswspace(text.back()) || text.back() == L'.' || text.back() == L'。')) {
        text.pop_back();
    }
    return Narrow(text);
}

std::string SystemReason(unsigned long code)
{
    const std::string text = SystemErrorText(code);
    const std::string number = "错误 " + std::to_string(code);
    return text.empty() ? number : text + "（" + number + "）";
}
