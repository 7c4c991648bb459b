// What the program tells the user in a message box: a notice. The flows and the archive wrappers only make
// notices; the window shows them (FlowView.h), so every box of the program's own opens in one place.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <windows.h>

#include "Errors.h"

enum class NoticeIcon : UINT {
    Information = MB_ICONINFORMATION,  // 0x40
    Error = MB_ICONERROR,              // 0x10
};

// The window that owns the box: the main window, or the application's hidden window, which has always owned the
// archive libraries' messages.
enum class NoticeOwner { MainWindow, Application };

struct Notice {
    std::string text;
    NoticeIcon icon = NoticeIcon::Information;
    NoticeOwner owner = NoticeOwner::MainWindow;
    std::string caption = "提示";

    friend bool operator==(const Notice&, const Notice&) = default;
};

inline Notice InformationNotice(std::string_view text)
{
    return {std::string(text), NoticeIcon::Information};
}

inline Notice ErrorNotice(std::string_view text)
{
    return {std::string(text), NoticeIcon::Error};
}

// A step refuses: the flow stops here, and the notice says why. The one way a flow stops on purpose; the flow's
// one catch hands the notice to the view.
class ERefusal : public Exception {
public:
    explicit ERefusal(Notice notice) : Exception(notice.text), notice_(std::move(notice)) {}
    const Notice& GetNotice() const { return notice_; }

private:
    Notice notice_;
};
