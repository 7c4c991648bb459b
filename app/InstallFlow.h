// The install flow: a click on "开始升级" applies the update package in the program directory, from asking the
// suite's programs to close to "升级成功!".
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Elevation.h"
#include "FlowView.h"
#include "LoggedView.h"
#include "install/UpdateLog.h"

class FileOperations;
class InstallTransaction;
class TXMLDocument;
class TZipExtractor;
struct PackageFile;
struct PlannedFile;

class TInstallFlow {
public:
    // programDirectory: the suite's, as the click found it (ending in '\'). closeRunningPrograms: asks the suite's
    // programs to close; true when the ones that matter are gone. elevation: whether a run denied its writes is
    // handed to an elevated copy.
    TInstallFlow(IFlowView& view, std::string programDirectory, TXMLDocument& xml, const TZipExtractor& extractor,
                 std::function<bool()> closeRunningPrograms, TElevation elevation);

    // Runs to its end: a notice says how it ended. Errors it does not expect leave the program directory as it
    // was and go on to the caller.
    void Run();

private:
    std::optional<Notice> Extract(const std::string& package, const std::string& staging) const;
    // signedEntries: the descriptor's entries when the package was checked against the author's key (each placed
    // file is checked against its digest again before the commit); null otherwise.
    InstallTransaction PlaceFiles(FileOperations& files, const std::vector<PlannedFile>& plan,
                                  const std::string& version, const std::string& packageSha256,
                                  const std::vector<PackageFile>* signedEntries);
    void Finish(FileOperations& files, InstallTransaction& transaction, const std::string& package,
                const std::string& version);

    UpdateLog log_;
    LoggedView view_;  // the window's, every message it shows logged too
    std::string programDirectory_;
    TXMLDocument& xml_;
    const TZipExtractor& extractor_;
    std::function<bool()> closeRunningPrograms_;
    TElevation elevation_;
};
