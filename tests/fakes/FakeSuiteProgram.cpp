// Stands in for one of the suite's programs: a top-level window with the caption given on the command line.
// With "close" it closes on the suite's close request; with "ignore" it stays. Its exit code is the number of
// close requests it received.
#include <string>
#include <windows.h>
#include <shellapi.h>

namespace {

constexpr UINT WM_SUITE_CLOSE = WM_USER + 53;

struct State {
    bool closesOnRequest = false;
    int requests = 0;
};
State state;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SUITE_CLOSE:
        ++state.requests;
        if (state.closesOnRequest) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(state.requests);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 3) return -1;
    state.closesOnRequest = std::wstring(argv[2]) == L"close";

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"FakeSuiteProgram";
    RegisterClassW(&windowClass);
    CreateWindowW(L"FakeSuiteProgram", argv[1], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                  instance, nullptr);
    LocalFree(argv);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return static_cast<int>(message.wParam);
}
