// The program's notices: modal system message boxes captioned "提示".
#pragma once

#include <string_view>
#include <windows.h>

enum class NoticeIcon : UINT {
    Information = MB_ICONINFORMATION,  // 0x40
    Error = MB_ICONERROR,              // 0x10
};

void ShowNotice(HWND owner, std::string_view text, NoticeIcon icon);
