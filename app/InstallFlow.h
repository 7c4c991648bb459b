// The install flow: a click on "开始升级" applies the update package in the program directory, from asking the
// suite's programs to close to "升级成功!".
#pragma once

#include <functional>

#include "FlowView.h"

class TXMLDocument;
class TZipExtractor;

class TInstallFlow {
public:
    // closeRunningPrograms: asks the suite's programs to close; true when the ones that matter are gone.
    TInstallFlow(IFlowView& view, TXMLDocument& xml, const TZipExtractor& extractor,
                 std::function<bool()> closeRunningPrograms);

    // Runs to its end: a notice says how it ended. Errors it does not expect leave the program directory as it
    // was and go on to the caller.
    void Run();

private:
    IFlowView& view_;
    TXMLDocument& xml_;
    const TZipExtractor& extractor_;
    std::function<bool()> closeRunningPrograms_;
};
