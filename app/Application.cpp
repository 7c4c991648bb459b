#include "Application.h"

#include "MessagePump.h"
#include "Paths.h"
#include "Text.h"

namespace {

constexpr wchar_t kHiddenWindowClass[] = L"TApplication";

}  // namespace

std::string WithFullStop(std::string text)
{
    // Compared as bytes: a UTF-8 text ending in a non-ASCII character ends in a byte above 0x7F, which sorts
    // after the full stop just as the character does.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
}

std::wstring TitleFromExecutablePath(const std::wstring& path)
{
    std::wstring name = path.substr(path.find_last_of(L"\\/:") + 1);
    name = name.substr(0, name.find(L'.'));
    if (name.size() > 1) CharLowerBuffW(name.data() + 1, static_cast<DWORD>(name.size() - 1));
    return name;
}

TApplication::TApplication(HINSTANCE instance) : instance_(instance)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance_;
    windowClass.lpszClassName = kHiddenWindowClass;
    if (!RegisterClassExW(&windowClass)) throw WindowsError("Cannot register the window class", GetLastError());
    handle_ = CreateWindowExW(0, kHiddenWindowClass, Title().c_str(), WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance_,
                              nullptr);
    if (handle_ == nullptr) {
        const DWORD error = GetLastError();
        UnregisterClassW(kHiddenWindowClass, instance_);
        throw WindowsError("Cannot create the application window", error);
    }
}

TApplication::~TApplication()
{
    if (handle_ != nullptr) DestroyWindow(handle_);
    UnregisterClassW(kHiddenWindowClass, instance_);
}

std::wstring TApplication::Title() const
{
    return TitleFromExecutablePath(ExecutablePath());
}

Exception WindowsError(const std::string& what, unsigned long code)
{
    const std::string text = SystemErrorText(code);
    return Exception(what + ": " + (text.empty() ? "" : text + " ") + "(system error " + std::to_string(code) + ")");
}

void ShowErrorBox(HWND owner, const std::exception& error)
{
    const std::wstring text = Widen(WithFullStop(error.what()));
    MessageBoxW(owner, text.c_str(), TitleFromExecutablePath(ExecutablePath()).c_str(), MB_OK | MB_ICONERROR);
}

int TApplication::Run()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchWithKeyPreview(message);
    return static_cast<int>(message.wParam);
}

void TApplication::ShowException(HWND owner, const std::exception& error) const
{
    ShowErrorBox(owner, error);
}
