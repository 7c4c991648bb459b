// The package build: in author mode, F2 turns the author's file list into a package in Output\, has it published
// on the update server and says so.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "AuthorFileList.h"
#include "Elevation.h"
#include "FlowView.h"
#include "LoggedView.h"
#include "PackageSigner.h"
#include "Publication.h"

class TXMLDocument;
class TZipPacker;

class TPackageBuild {
public:
    // programDirectory: the author's, as the key press found it (ending in '\'). publication: registers the built
    // package on the update server. elevation: whether a build denied its writes is handed to an elevated copy.
    TPackageBuild(IFlowView& view, std::string programDirectory, TXMLDocument& xml, const TZipPacker& packer,
                  TPublication publication, TElevation elevation);

    // Builds one package, publishes it and says so. Errors it does not expect go on to the caller.
    void Run();

private:
    struct Output;

    void CheckNamesForLibrary(const std::vector<SourceFile>& files, bool signedPackage, const Output& output) const;
    std::optional<Notice> Pack(const std::string& descriptorText, const std::vector<SourceFile>& files,
                               const std::optional<signing::PackageSigner>& signer, const Output& output);

    UpdateLog log_;
    LoggedView view_;  // the window's, every message it shows logged too
    std::string programDirectory_;
    TXMLDocument& xml_;
    const TZipPacker& packer_;
    TPublication publication_;
    TElevation elevation_;
};
