// What a flow needs of the window it runs in: the status line, notices, the owner of its message boxes and an
// immediate paint. The main window implements it; a flow never touches the window's controls.
#pragma once

#include <string>
#include <string_view>
#include <windows.h>

#include "Dialogs.h"

class IFlowView {
public:
    virtual void SetStatus(const std::string& text) = 0;
    virtual void Notify(std::string_view text, NoticeIcon icon) = 0;  // a modal notice owned by the window
    virtual HWND Owner() const = 0;
    virtual void PaintNow() = 0;  // shows pending changes (the status line) before the flow goes on

protected:
    ~IFlowView() = default;
};
