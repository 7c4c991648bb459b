#include "MessagePump.h"

void DispatchWithKeyPreview(const MSG& message)
{
    if ((message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) && message.hwnd != nullptr) {
        if (HWND topLevel = GetAncestor(message.hwnd, GA_ROOT)) {
            SendMessageW(topLevel, WM_KEYPREVIEW, message.wParam, message.lParam);
        }
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void ProcessMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        DispatchWithKeyPreview(message);
    }
}
