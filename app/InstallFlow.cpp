// The install flow: a click on "开始升级" applies the update package Quellis.sky in the program directory.
//
// What the user sees on the way to "升级成功!" is the suite's familiar sequence. Underneath, the package is
// unpacked into an emptied staging folder and the files are moved as one transaction
// (install/InstallTransaction.h): a failure undoes everything and says that nothing was changed, and a run that
// was killed half way is undone at the next click.
#include "InstallFlow.h"

#include <optional>
#include <vector>

#include "Common.h"
#include "Dialogs.h"
#include "Paths.h"
#include "SignatureCheck.h"
#include "Sha256.h"
#include "SharedRoutines.h"
#include "UpdateDescriptor.h"
#include "XmlDocument.h"
#include "ZipExtractor.h"
#include "install/FileHolders.h"
#include "install/FileOperations.h"
#include "install/InstallLayout.h"
#include "install/InstallTexts.h"
#include "install/InstallTransaction.h"
#include "install/PackagePlan.h"
#include "install/Staging.h"

namespace text = install_text;
using layout::kDescriptor;
using layout::kPackage;

namespace {

constexpr char kVersionKey[] = "Version";

// With the author's public key in the program directory, the unpacked package must prove who built it before
// anything moves; without it, every package installs as it always did. Returns the refusal, or nothing.
std::optional<std::string> RefusalOfUntrusted(const std::string& programDirectory, const std::string& staging,
                                              const DescriptorReader& descriptor)
{
    const std::string trustedKey = programDirectory + std::string(layout::kTrustedKey);
    if (!FileExists(trustedKey)) return std::nullopt;
    try {
        signing::CheckUnpackedPackage(staging + std::string(kDescriptor), staging + std::string(layout::kSignature),
                                      staging, descriptor.Files(), trustedKey);
        return std::nullopt;
    } catch (const signing::EPackageNotTrusted& refused) {
        return refused.what();
    }
}

// After the commit the install is done; what remains is tidying up and the version record. Returns whether the
// package could be deleted.
bool DeletePackage(FileOperations& files, const std::string& package)
{
    try {
        if (FileExists(package)) files.Delete(package);
        return true;
    } catch (const EFileOperationError&) {
        return false;
    }
}

enum class AfterRecovery { GoOn, Stop };

// A committed install left its journal: it is finished, and the package it installed, if it is still there, is
// deleted rather than installed again. The journal stays for as long as that package does.
AfterRecovery FinishCommittedInstall(HWND owner, FileOperations& files, InstallTransaction& committed,
                                     const std::string& package)
{
    WriteSysParam(kVersionKey, committed.CommittedVersion());
    if (FileExists(package)) {
        std::string packageSha256;
        try {
            packageSha256 = signing::Hex(signing::FileSha256(package));
        } catch (const EFileOperationError& error) {
            committed.RemoveBackups();
            ShowNotice(owner, text::PackageUnreadable(error), NoticeIcon::Error);
            return AfterRecovery::Stop;
        }
        if (packageSha256 == committed.CommittedPackage()) {
            try {
                files.Delete(package);
            } catch (const EFileOperationError& error) {
                committed.RemoveBackups();
                ShowNotice(owner, text::InstalledPackageNotRemoved(error), NoticeIcon::Error);
                return AfterRecovery::Stop;
            }
            committed.Finish();
            ShowNotice(owner, text::InstalledPackageRemoved(package), NoticeIcon::Information);
            return AfterRecovery::Stop;
        }
    }
    committed.Finish();
    ShowNotice(owner, text::kPreviousUpdateCompleted, NoticeIcon::Information);
    return AfterRecovery::Stop;
}

// Deals with a journal that an interrupted run left behind, before anything else happens: an install that was
// cut short is undone, one that had committed is finished. Says in one message what was done. A committed one, or
// a journal that could not be dealt with, ends the click; the next one tries again.
AfterRecovery RecoverInterruptedInstall(HWND owner, FileOperations& files, const std::string& programDirectory)
{
    try {
        std::optional<InstallTransaction> interrupted = InstallTransaction::Resume(files, programDirectory);
        if (!interrupted) {
            InstallTransaction::RemoveLeftovers(files, programDirectory);
            return AfterRecovery::GoOn;
        }
        if (interrupted->Committed()) {
            return FinishCommittedInstall(owner, files, *interrupted, programDirectory + std::string(kPackage));
        }
        const bool hadChanges = interrupted->HasChangesToUndo();
        interrupted->RollBack();
        if (hadChanges) ShowNotice(owner, text::kInterruptedUpdateUndone, NoticeIcon::Information);
        return AfterRecovery::GoOn;
    } catch (const ERollbackError& error) {
        ShowNotice(owner, text::RecoveryFailed(error), NoticeIcon::Error);
        return AfterRecovery::Stop;
    }
}

std::vector<std::string> HoldersOf(const EInstallStepError& error)
{
    const bool aboutAFile = error.GetStep() == EInstallStepError::Step::ReplaceFile ||
                            error.GetStep() == EInstallStepError::Step::PlaceFile;
    return aboutAFile && MeansFileInUse(error.Code()) ? ProgramsHoldingFile(error.Path()) : std::vector<std::string>{};
}

// Moves every planned file into place as one transaction, the status line naming each. Nothing when a step
// failed: everything was put back (or the journal keeps what is left to undo for the next click) and a notice has
// said so.
std::optional<InstallTransaction> PlaceFiles(IFlowView& view, FileOperations& files,
                                             const std::string& programDirectory, const std::vector<PlannedFile>& plan,
                                             const std::string& version, const std::string& packageSha256)
{
    std::optional<InstallTransaction> transaction;
    try {
        transaction.emplace(InstallTransaction::Begin(files, programDirectory));
        for (const PlannedFile& file : plan) {
            view.SetStatus(text::Upgrading(file.name));
            view.PaintNow();
            DelayWithMessages();
            transaction->MakeDirectories(file.directory);
            transaction->PlaceUnpackedFile(file.name, file.directory);
        }
        transaction->Commit(version, packageSha256);
    } catch (const EInstallStepError& error) {
        // Asked before the rollback: the program that holds the file is the one the user has to close.
        const std::vector<std::string> holders = HoldersOf(error);
        try {
            if (transaction) transaction->RollBack();
            view.SetStatus("");
            view.Notify(text::InstallFailed(error, holders), NoticeIcon::Error);
        } catch (const ERollbackError& rollback) {
            view.SetStatus("");
            view.Notify(text::InstallFailedNotUndone(error, holders, rollback), NoticeIcon::Error);
        }
        return std::nullopt;
    } catch (...) {
        // Anything unforeseen still leaves the program directory as it was; the error itself goes to the
        // application's handler. A rollback that fails here leaves the journal for the next click.
        if (transaction) {
            try {
                transaction->RollBack();
            } catch (const ERollbackError&) {
            }
        }
        throw;
    }
    return transaction;
}

}  // namespace

TInstallFlow::TInstallFlow(IFlowView& view, TXMLDocument& xml, const TZipExtractor& extractor,
                           std::function<bool()> closeRunningPrograms)
    : view_(view), xml_(xml), extractor_(extractor), closeRunningPrograms_(std::move(closeRunningPrograms))
{
}

void TInstallFlow::Run()
{
    if (!closeRunningPrograms_()) {
        view_.Notify(text::kCloseProgramsFirst, NoticeIcon::Error);
        return;
    }
    const std::string programDirectory = ProgramDirectory();
    FileOperations files;
    // Rolling back puts the suite's files back, so it waits until the suite's programs have been asked to close.
    if (RecoverInterruptedInstall(view_.Owner(), files, programDirectory) == AfterRecovery::Stop) return;

    const std::string package = programDirectory + std::string(kPackage);
    if (!FileExists(package)) {
        view_.Notify(text::kNoPackage, NoticeIcon::Information);
        return;
    }
    view_.SetStatus(std::string(text::kPreparing));

    std::string packageSha256;
    try {
        packageSha256 = signing::Hex(signing::FileSha256(package));
    } catch (const EFileOperationError& error) {
        view_.Notify(text::PackageUnreadable(error), NoticeIcon::Error);
        return;
    }
    // Unpacked into an emptied folder: whatever an earlier run left can never be taken for this package's files.
    std::string staging;
    try {
        staging = PrepareStaging(files, programDirectory);
    } catch (const EFileOperationError& error) {
        view_.Notify(text::LeftoversNotRemoved(error), NoticeIcon::Error);
        return;
    }
    try {
        extractor_.UnZipArchive(package, staging);
    } catch (const EUnzipError& error) {
        view_.Notify(text::ExtractionFailed(error), NoticeIcon::Error);
        return;
    }
    const std::string descriptorPath = staging + std::string(kDescriptor);
    if (!FileExists(descriptorPath)) {
        view_.Notify(text::kIncomplete, NoticeIcon::Error);
        return;
    }
    DelayWithMessages();

    xml_.LoadFromFile(descriptorPath);
    xml_.SetActive(true);
    const DescriptorReader descriptor(xml_);
    std::vector<PlannedFile> plan;
    try {
        plan = PlanInstall(descriptor.Files(), programDirectory);
    } catch (const ERefusedEntry& refused) {
        view_.Notify(refused.what(), NoticeIcon::Error);
        return;
    }
    if (auto refusal = RefusalOfUntrusted(programDirectory, staging, descriptor)) {
        view_.Notify(*refusal, NoticeIcon::Error);
        return;
    }

    std::optional<InstallTransaction> transaction =
        PlaceFiles(view_, files, programDirectory, plan, descriptor.Version(), packageSha256);
    if (!transaction) return;

    const bool packageDeleted = DeletePackage(files, package);
    view_.SetStatus(std::string(text::kUpdatingVersion));
    WriteSysParam(kVersionKey, descriptor.Version());
    // A package that could not be deleted keeps the journal, which knows it as installed: the next click deletes
    // it instead of installing it again.
    if (packageDeleted) {
        transaction->Finish();
    } else {
        transaction->RemoveBackups();
    }
    DelayWithMessages();
    view_.SetStatus("");
    view_.Notify(text::kSucceeded, NoticeIcon::Information);
}
