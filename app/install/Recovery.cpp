#include "install/Recovery.h"

#include "Paths.h"
#include "ProgramLayout.h"
#include "Sha256.h"
#include "install/InstallTexts.h"
#include "install/InstallTransaction.h"
#include "install/UpdateLog.h"
#include "install/VersionRecord.h"

namespace text = install_text;

namespace {

// Whether the package in the program directory is the one the committed install installed.
bool IsInstalledPackage(InstallTransaction& committed, const std::string& package)
{
    try {
        return signing::Hex(signing::FileSha256(package)) == committed.CommittedPackage();
    } catch (const EFileOperationError& error) {
        committed.RemoveBackups();
        throw ERefusal(ErrorNotice(text::PackageUnreadable(error)));
    }
}

// A committed install left its journal: it is finished. The package it installed, if it is still there, is
// deleted rather than installed again, and the click ends there, as it does when no package is left; the journal
// stays for as long as that package does. A different package waiting is the user's next update: the old install
// is finished without a word and the click goes on to install it.
void FinishCommittedInstall(FileOperations& files, InstallTransaction& committed, const std::string& programDirectory,
                            UpdateLog& log)
{
    log.Line("recovery: finishing the committed install of version " + committed.CommittedVersion());
    RecordInstalledVersion(programDirectory, committed.CommittedVersion());
    const std::string package = programDirectory + std::string(layout::kPackage);
    if (!FileExists(package)) {
        committed.Finish();
        throw ERefusal(InformationNotice(text::kPreviousUpdateCompleted));
    }
    if (!IsInstalledPackage(committed, package)) {
        // A journal that cannot go yet would stop the new install before it starts; the next click finishes it.
        if (!committed.Finish()) throw ERefusal(InformationNotice(text::kPreviousUpdateCompleted));
        return;
    }
    try {
        files.Delete(package);
    } catch (const EFileOperationError& error) {
        log.Failure("recovery: cannot delete the package it installed", package, error.Code());
        committed.RemoveBackups();
        throw ERefusal(ErrorNotice(text::InstalledPackageNotRemoved(error)));
    }
    log.Line("recovery: deleted the package it installed: " + package);
    committed.Finish();
    throw ERefusal(InformationNotice(text::InstalledPackageRemoved(package)));
}

// The interrupted run's transaction, if any. A link at Temp\ (or at the journal's folder) is never read through:
// it stops the click only when there is a package to install; without one the click says so, as it always has.
std::optional<InstallTransaction> InterruptedInstall(FileOperations& files, const std::string& programDirectory,
                                                     UpdateLog& log)
{
    try {
        return InstallTransaction::Resume(files, programDirectory, &log);
    } catch (const ERollbackError& error) {
        const bool nothingToInstall = !FileExists(programDirectory + std::string(layout::kPackage));
        if (error.Code() == kErrorLinkInTheWay && nothingToInstall) {
            throw ERefusal(InformationNotice(text::kNoPackage));
        }
        throw;
    }
}

}  // namespace

std::optional<Notice> RecoverInterruptedInstall(FileOperations& files, const std::string& programDirectory,
                                                UpdateLog& log)
{
    try {
        std::optional<InstallTransaction> interrupted = InterruptedInstall(files, programDirectory, log);
        if (!interrupted) {
            InstallTransaction::RemoveLeftovers(files, programDirectory);
            return std::nullopt;
        }
        if (interrupted->Committed()) {
            FinishCommittedInstall(files, *interrupted, programDirectory, log);
            return std::nullopt;
        }
        log.Line("recovery: an interrupted install's journal found: undoing it");
        const bool hadChanges = interrupted->HasChangesToUndo();
        interrupted->RollBack();
        if (!hadChanges) return std::nullopt;
        return InformationNotice(text::kInterruptedUpdateUndone);
    } catch (const ERollbackError& error) {
        log.Failure("recovery failed at", error.Path(), error.Code());
        throw ERefusal(ErrorNotice(text::RecoveryFailed(error)));
    }
}
