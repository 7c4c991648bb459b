#include "Dialogs.h"

#include "Text.h"

void ShowNotice(HWND owner, const Notice& notice)
{
    MessageBoxW(owner, Widen(notice.text).c_str(), Widen(notice.caption).c_str(),
                MB_OK | static_cast<UINT>(notice.icon));
}
