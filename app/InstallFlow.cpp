// The install flow: a click on "开始升级" applies the update package Quellis.sky in the program directory.
//
// What the user sees on the way to "升级成功!" is the suite's familiar sequence. Underneath, the files are moved
// as one transaction (install/InstallTransaction.h): a failure undoes everything and says that nothing was
// changed, and a run that was killed half way is undone at the next click.
#include "MainFrm.h"

#include <optional>
#include <vector>

#include "Common.h"
#include "Dialogs.h"
#include "Paths.h"
#include "SharedRoutines.h"
#include "UpdateDescriptor.h"
#include "install/FileHolders.h"
#include "install/FileOperations.h"
#include "install/InstallTexts.h"
#include "install/InstallTransaction.h"
#include "install/PackagePlan.h"

namespace text = install_text;

namespace {

constexpr char kVersionKey[] = "Version";

// After the commit the install is done; what remains is tidying up and the version record. Returns whether the
// package could be deleted.
bool DeletePackage(FileOperations& files, const std::string& package)
{
    try {
        if (FileExists(package)) files.Delete(package);
        return true;
    } catch (const FileOperationError&) {
        return false;
    }
}

// Deals with a journal that an interrupted run left behind, before anything else happens: an install that was
// cut short is undone, one that had committed is finished. Says in one message what was done. False when the
// journal could not be dealt with; the click then stops, and the next one tries again.
bool RecoverInterruptedInstall(HWND owner, FileOperations& files, const std::string& programDirectory)
{
    try {
        std::optional<InstallTransaction> interrupted = InstallTransaction::Resume(files, programDirectory);
        if (!interrupted) {
            InstallTransaction::RemoveLeftovers(files, programDirectory);
            return true;
        }
        if (interrupted->Committed()) {
            // The files are in place; what is left is the tidy-up and the version record. A package that still
            // cannot be deleted stays, and installing it again changes nothing.
            DeletePackage(files, programDirectory + "Quellis.sky");
            WriteSysParam(kVersionKey, interrupted->CommittedVersion());
            interrupted->Finish();
            ShowNotice(owner, text::kPreviousUpdateCompleted, NoticeIcon::Information);
        } else {
            const bool hadChanges = interrupted->HasChangesToUndo();
            interrupted->RollBack();
            if (hadChanges) ShowNotice(owner, text::kInterruptedUpdateUndone, NoticeIcon::Information);
        }
        return true;
    } catch (const RollbackError& error) {
        ShowNotice(owner, text::RecoveryFailed(error), NoticeIcon::Error);
        return false;
    }
}

std::vector<std::string> HoldersOf(const InstallStepError& error)
{
    const bool aboutAFile = error.GetStep() == InstallStepError::Step::ReplaceFile ||
                            error.GetStep() == InstallStepError::Step::PlaceFile;
    return aboutAFile && MeansFileInUse(error.Code()) ? ProgramsHoldingFile(error.Path())
                                                      : std::vector<std::string>{};
}

}  // namespace

void TfrmMain::btStartClick()
{
    if (!CloseRunningPrograms()) {
        ShowNotice(handle_, text::kCloseProgramsFirst, NoticeIcon::Error);
        return;
    }
    const std::string programDirectory = ProgramDirectory();
    FileOperations files;
    // Rolling back puts the suite's files back, so it waits until the suite's programs have been asked to close.
    if (!RecoverInterruptedInstall(handle_, files, programDirectory)) return;

    const std::string package = programDirectory + "Quellis.sky";
    if (!FileExists(package)) {
        ShowNotice(handle_, text::kNoPackage, NoticeIcon::Information);
        return;
    }
    SetStatus(std::string(text::kPreparing));

    // A descriptor left by an earlier run would otherwise be taken for this package's whenever the package brings
    // none or cannot be extracted, and replay that earlier install.
    const std::string temp = programDirectory + "Temp\\";
    const std::string descriptorPath = temp + "update.xml";
    if (FileExists(descriptorPath)) {
        try {
            files.Delete(descriptorPath);
        } catch (const FileOperationError& error) {
            ShowNotice(handle_, text::StaleDescriptorNotRemoved(error), NoticeIcon::Error);
            return;
        }
    }
    zipExtractor.UnZipArchive(package, temp);
    if (!FileExists(descriptorPath)) {
        ShowNotice(handle_, text::kIncomplete, NoticeIcon::Error);
        return;
    }
    DelayWithMessages();

    xml.LoadFromFile(descriptorPath);
    xml.SetActive(true);
    const DescriptorReader descriptor(xml);
    std::vector<PlannedFile> plan;
    try {
        plan = PlanInstall(descriptor, programDirectory);
    } catch (const RefusedEntry& refused) {
        ShowNotice(handle_, refused.what(), NoticeIcon::Error);
        return;
    }

    std::optional<InstallTransaction> transaction;
    try {
        transaction.emplace(InstallTransaction::Begin(files, programDirectory));
        for (const PlannedFile& file : plan) {
            SetStatus(text::Upgrading(file.name));
            UpdateWindow(handle_);
            DelayWithMessages();
            transaction->MakeDirectories(file.directory);
            transaction->PlaceFile("Temp\\" + file.name, file.directory + file.name);
        }
        transaction->Commit(descriptor.Version());
    } catch (const InstallStepError& error) {
        // Asked before the rollback: the program that holds the file is the one the user has to close.
        const std::vector<std::string> holders = HoldersOf(error);
        try {
            if (transaction) transaction->RollBack();
            SetStatus("");
            ShowNotice(handle_, text::InstallFailed(error, holders), NoticeIcon::Error);
        } catch (const RollbackError& rollback) {
            SetStatus("");
            ShowNotice(handle_, text::InstallFailedNotUndone(error, holders, rollback), NoticeIcon::Error);
        }
        return;
    } catch (...) {
        // Anything unforeseen still leaves the program directory as it was; the error itself goes to the
        // application's handler. A rollback that fails here leaves the journal for the next click.
        if (transaction) {
            try {
                transaction->RollBack();
            } catch (const RollbackError&) {
            }
        }
        throw;
    }

    const bool packageDeleted = DeletePackage(files, package);
    SetStatus(std::string(text::kUpdatingVersion));
    WriteSysParam(kVersionKey, descriptor.Version());
    // A package that could not be deleted keeps the journal, so that the next click tries again.
    if (packageDeleted) transaction->Finish();
    DelayWithMessages();
    SetStatus("");
    ShowNotice(handle_, text::kSucceeded, NoticeIcon::Information);
}
