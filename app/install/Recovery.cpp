#include "install/Recovery.h"

#include "Paths.h"
#include "ProgramLayout.h"
#include "Sha256.h"
#include "install/InstallTexts.h"
#include "install/InstallTransaction.h"
#include "install/VersionRecord.h"

namespace text = install_text;

namespace {

// Whether the package in the program directory, if there is one, is the one the committed install installed.
bool IsInstalledPackage(InstallTransaction& committed, const std::string& package)
{
    if (!FileExists(package)) return false;
    try {
        return signing::Hex(signing::FileSha256(package)) == committed.CommittedPackage();
    } catch (const EFileOperationError& error) {
        committed.RemoveBackups();
        throw ERefusal(ErrorNotice(text::PackageUnreadable(error)));
    }
}

// A committed install left its journal: it is finished, and the package it installed, if it is still there, is
// deleted rather than installed again. The journal stays for as long as that package does. Ends the click with
// what was done.
[[noreturn]] void FinishCommittedInstall(FileOperations& files, InstallTransaction& committed,
                                         const std::string& programDirectory)
{
    RecordInstalledVersion(programDirectory, committed.CommittedVersion());
    const std::string package = programDirectory + std::string(layout::kPackage);
    if (!IsInstalledPackage(committed, package)) {
        committed.Finish();
        throw ERefusal(InformationNotice(text::kPreviousUpdateCompleted));
    }
    try {
        files.Delete(package);
    } catch (const EFileOperationError& error) {
        committed.RemoveBackups();
        throw ERefusal(ErrorNotice(text::InstalledPackageNotRemoved(error)));
    }
    committed.Finish();
    throw ERefusal(InformationNotice(text::InstalledPackageRemoved(package)));
}

}  // namespace

std::optional<Notice> RecoverInterruptedInstall(FileOperations& files, const std::string& programDirectory)
{
    try {
        std::optional<InstallTransaction> interrupted = InstallTransaction::Resume(files, programDirectory);
        if (!interrupted) {
            InstallTransaction::RemoveLeftovers(files, programDirectory);
            return std::nullopt;
        }
        if (interrupted->Committed()) FinishCommittedInstall(files, *interrupted, programDirectory);
        const bool hadChanges = interrupted->HasChangesToUndo();
        interrupted->RollBack();
        if (!hadChanges) return std::nullopt;
        return InformationNotice(text::kInterruptedUpdateUndone);
    } catch (const ERollbackError& error) {
        throw ERefusal(ErrorNotice(text::RecoveryFailed(error)));
    }
}
