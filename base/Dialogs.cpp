#include "Dialogs.h"

#include "Text.h"

void ShowNotice(HWND owner, std::string_view text, NoticeIcon icon)
{
    MessageBoxW(owner, Widen(text).c_str(), L"提示", MB_OK | static_cast<UINT>(icon));
}
