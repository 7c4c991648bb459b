// What a flow needs of the window it runs in: the status line, notices and an immediate paint. The main window
// implements it; a flow never touches the window's controls, and a stand-in that records what it is told can take
// the window's place.
#pragma once

#include <string>

#include "Notice.h"

class IFlowView {
public:
    virtual void SetStatus(const std::string& text) = 0;
    // A modal box owned by the window the notice names; returns when the user has closed it.
    virtual void Notify(const Notice& notice) = 0;
    virtual void PaintNow() = 0;  // shows pending changes (the status line) before the flow goes on
    // Another copy of the program (elevated) does the run: the window closes once the flow has returned.
    virtual void HandOver() = 0;

protected:
    ~IFlowView() = default;
};
