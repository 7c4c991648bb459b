// The package build: in author mode (the marker file present), F2 turns the author's file list into a package in
// Output\, has it published on the update server and says so.
#pragma once

#include <functional>
#include <string>

#include "FlowView.h"

class TXMLDocument;
class TZipPacker;

class TPackageBuild {
public:
    // Registers a built package on the update server (path, to-version, from-version); true when all of it is
    // there. Shows its own messages for the failures it expects.
    using Publisher = std::function<bool(const std::string&, const std::string&, const std::string&)>;

    TPackageBuild(IFlowView& view, TXMLDocument& xml, const TZipPacker& packer, Publisher publish);

    // One key press of the window, before the focused control sees it: F2 in author mode builds; anything else
    // does nothing.
    void Run(WORD key);

private:
    IFlowView& view_;
    TXMLDocument& xml_;
    const TZipPacker& packer_;
    Publisher publish_;
};
