// The window's view as a flow uses it, with every message box the user is shown also written to the run's log, word
// for word, before it opens.
#pragma once

#include "FlowView.h"
#include "install/UpdateLog.h"

class LoggedView final : public IFlowView {
public:
    LoggedView(IFlowView& view, UpdateLog& log) : view_(view), log_(log) {}

    void SetStatus(const std::string& text) override { view_.SetStatus(text); }
    void Notify(const Notice& notice) override
    {
        log_.Shown(notice);
        view_.Notify(notice);
    }
    void PaintNow() override { view_.PaintNow(); }
    // Where this process may not write, the log cannot be written either: the elevated copy logs the run.
    void HandOver() override { view_.HandOver(); }

private:
    IFlowView& view_;
    UpdateLog& log_;
};
