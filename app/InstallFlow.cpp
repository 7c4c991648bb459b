// The install flow: a click on "开始升级" applies the update package Quellis.sky in the program directory.
//
// What the user sees on the way to "升级成功!" is the suite's familiar sequence. Underneath, the package is
// unpacked into an emptied staging folder and the files are moved as one transaction
// (install/InstallTransaction.h): a failure undoes everything and says that nothing was changed, and a run that
// was killed half way is undone at the next click.
#include "InstallFlow.h"

#include <optional>

#include "Application.h"
#include "Paths.h"
#include "ProgramLayout.h"
#include "Sha256.h"
#include "SharedRoutines.h"
#include "SignatureCheck.h"
#include "UpdateDescriptor.h"
#include "XmlDocument.h"
#include "ZipExtractor.h"
#include "install/FileHolders.h"
#include "install/FileOperations.h"
#include "install/InstallTexts.h"
#include "install/InstallTransaction.h"
#include "install/PackagePlan.h"
#include "install/Recovery.h"
#include "install/RunningImage.h"
#include "install/SafeNames.h"
#include "install/Staging.h"
#include "install/TrustedKey.h"
#include "install/UpdateLock.h"
#include "install/VersionFloor.h"
#include "install/VersionRecord.h"

namespace text = install_text;

namespace {

// A package to install or an interrupted install to deal with: only then does the click change anything.
bool HasWorkToDo(const std::string& programDirectory)
{
    return FileExists(programDirectory + std::string(layout::kPackage)) ||
           FileExists(InstallTransaction::JournalPath(programDirectory));
}

// Which package this is: the journal keeps it, so that a committed install can tell it from a new one.
std::string PackageSha256(const std::string& package)
{
    try {
        return signing::Hex(signing::FileSha256(package));
    } catch (const EFileOperationError& error) {
        throw ERefusal(ErrorNotice(text::PackageUnreadable(error)));
    }
}

std::string EmptyStaging(FileOperations& files, const std::string& programDirectory, const RunningImage& runningImage)
{
    std::string staging;
    try {
        staging = PrepareStaging(files, programDirectory, runningImage);
    } catch (const EFileOperationError& error) {
        throw ERefusal(ErrorNotice(text::LeftoversNotRemoved(error)));
    }
    try {
        MakeStagingParent(files, programDirectory);
    } catch (const EFileOperationError& error) {
        throw ERefusal(ErrorNotice(text::StagingNotMade(error)));
    }
    return staging;
}

struct Descriptor {
    std::string version;
    std::vector<PackageFile> entries;
};

// The descriptor's bytes as the signature check saw them, parsed: never a second read of the file.
Descriptor ParseDescriptor(TXMLDocument& xml, const std::vector<std::uint8_t>& bytes, const std::string& path)
{
    xml.LoadFromBytes(std::string(bytes.begin(), bytes.end()), path);
    xml.SetActive(true);
    const DescriptorReader reader(xml);
    return {reader.Version(), reader.Files()};
}

// With the author's public key in the program directory, the unpacked package must prove who built it before
// anything moves; without it, every package installs as it always did. A key that is there but cannot be used
// refuses every package.
std::optional<std::vector<std::uint8_t>> TrustedKey(const std::string& programDirectory)
{
    if (!TrustedKeyPresent(programDirectory)) return std::nullopt;
    try {
        return signing::ReadTrustedKey(TrustedKeyPath(programDirectory));
    } catch (const signing::EPackageNotTrusted& refused) {
        throw ERefusal(ErrorNotice(refused.what()));
    }
}

template <typename Check>
void RefuseUntrusted(const Check& check)
{
    try {
        check();
    } catch (const signing::EPackageNotTrusted& refused) {
        throw ERefusal(ErrorNotice(refused.what()));
    }
}

// What support reads about the package: signed or not, and whether this program directory checks it.
std::string SignatureState(bool carriesSignature, bool checked)
{
    return std::string(carriesSignature ? "signed" : "not signed") +
           (checked ? ", checked with UpdateKey.pub before anything moves" : ", not checked (no UpdateKey.pub here)");
}

std::string StepName(EInstallStepError::Step step)
{
    switch (step) {
    case EInstallStepError::Step::WriteJournal:
        return "cannot write the journal";
    case EInstallStepError::Step::MakeDirectory:
        return "cannot make the directory";
    case EInstallStepError::Step::ReplaceFile:
        return "cannot move aside the file";
    case EInstallStepError::Step::PlaceFile:
        return "cannot place the file";
    case EInstallStepError::Step::FlushFile:
        return "cannot flush the file";
    }
    return "install step failed on";
}

std::vector<std::string> HoldersOf(const EInstallStepError& error)
{
    const bool aboutAFile = error.GetStep() == EInstallStepError::Step::ReplaceFile ||
                            error.GetStep() == EInstallStepError::Step::PlaceFile ||
                            error.GetStep() == EInstallStepError::Step::FlushFile;
    return aboutAFile && MeansFileInUse(error.Code()) ? ProgramsHoldingFile(error.Path()) : std::vector<std::string>{};
}

// Undoes what the install did before the step failed, and says what happened. A rollback that fails leaves the
// journal, which keeps what is left to undo for the next click.
std::string UndoFailedStep(std::optional<InstallTransaction>& transaction, const EInstallStepError& error)
{
    // Asked before the rollback: the program that holds the file is the one the user has to close.
    const std::vector<std::string> holders = HoldersOf(error);
    try {
        if (transaction) transaction->RollBack();
        return text::InstallFailed(error, holders);
    } catch (const ERollbackError& rollback) {
        return text::InstallFailedNotUndone(error, holders, rollback);
    }
}

// A placed file no longer matched its signed digest: undone, and said why.
std::string UndoRefusedInstall(std::optional<InstallTransaction>& transaction,
                               const signing::EPackageNotTrusted& refused)
{
    try {
        if (transaction) transaction->RollBack();
        return refused.what();
    } catch (const ERollbackError& rollback) {
        return text::RefusedNotUndone(refused.Finding(), rollback);
    }
}

// Anything unforeseen still leaves the program directory as it was; the error itself goes on to the application's
// handler. A rollback that fails here leaves the journal for the next click.
void RollBackQuietly(std::optional<InstallTransaction>& transaction)
{
    if (!transaction) return;
    try {
        transaction->RollBack();
    } catch (const ERollbackError&) {
    }
}

// After the commit the install is done; what remains is tidying up and the version record. Returns whether the
// package could be deleted.
bool DeletePackage(FileOperations& files, const std::string& package, UpdateLog& log)
{
    try {
        if (FileExists(package)) files.Delete(package);
        log.Line("package deleted: " + package);
        return true;
    } catch (const EFileOperationError& error) {
        log.Failure("cannot delete the package (the journal keeps it as installed)", package, error.Code());
        return false;
    }
}

}  // namespace

TInstallFlow::TInstallFlow(IFlowView& view, std::string programDirectory, TXMLDocument& xml,
                           const TZipExtractor& extractor, std::function<bool()> closeRunningPrograms,
                           TElevation elevation)
    : log_(programDirectory, "install"),
      view_(view, log_),
      programDirectory_(std::move(programDirectory)),
      xml_(xml),
      extractor_(extractor),
      closeRunningPrograms_(std::move(closeRunningPrograms)),
      elevation_(elevation)
{
}

void TInstallFlow::Run()
{
    try {
        if (!closeRunningPrograms_()) throw ERefusal(ErrorNotice(text::kCloseProgramsFirst));
        // Where this process may not write (a suite under Program Files), an elevated copy takes the run over
        // before anything changes. With nothing to install or undo there, that is all the user is told.
        const std::vector<std::string> written{programDirectory_, programDirectory_ + std::string(layout::kTemp)};
        const bool workToDo = HasWorkToDo(programDirectory_);
        if (!workToDo && DeniesNewFiles(written)) throw ERefusal(InformationNotice(text::kNoPackage));
        if (workToDo && elevation_.HandOverIfDenied(ElevatedRun::Install, written)) {
            view_.HandOver();
            return;
        }
        // Held for the whole run: a second copy clicked meanwhile is told, and its window never waits.
        std::optional<UpdateLock> lock = UpdateLock::Take(programDirectory_);
        // Known before the recovery: undoing an install of the updater itself may move this very program.
        const RunningImage runningImage = RunningImage::OfThisProcess();
        log_.StartUnderLock();
        FileOperations files;
        if (auto undone = RecoverInterruptedInstall(files, programDirectory_, log_)) view_.Notify(*undone);
        const std::string package = programDirectory_ + std::string(layout::kPackage);
        if (!FileExists(package)) throw ERefusal(InformationNotice(text::kNoPackage));
        view_.SetStatus(std::string(text::kPreparing));
        const std::string packageSha256 = PackageSha256(package);
        log_.Package("package", package, packageSha256);
        // Unpacked into an emptied folder: whatever an earlier run left can never be taken for this package's files.
        const std::string staging = EmptyStaging(files, programDirectory_, runningImage);
        if (auto missingLibrary = Extract(package, staging)) view_.Notify(*missingLibrary);
        const std::string descriptorPath = staging + std::string(layout::kDescriptor);
        if (!FileExists(descriptorPath)) throw ERefusal(ErrorNotice(text::kIncomplete));
        DelayWithMessages();
        const std::optional<std::vector<std::uint8_t>> trustedKey = TrustedKey(programDirectory_);
        // Read once: the signature is checked over these bytes, and these bytes are parsed.
        const signing::UnpackedPackage unpacked(signing::UnpackedPackage::ReadDescriptor(descriptorPath),
                                                staging + std::string(layout::kSignature), staging);
        const Descriptor descriptor = ParseDescriptor(xml_, unpacked.Descriptor(), descriptorPath);
        log_.Line("descriptor: version " + descriptor.version + ", " + std::to_string(descriptor.entries.size()) +
                  " files, " +
                  SignatureState(FileExists(staging + std::string(layout::kSignature)), trustedKey.has_value()));
        // The names first: a payload named like the signature unpacks over it, and the user is to hear of the name
        // rather than of a signature that no longer matches. Refusing a name moves nothing.
        const std::vector<PlannedFile> plan =
            PlanInstall(descriptor.entries, programDirectory_, trustedKey.has_value());
        if (trustedKey) {
            RefuseUntrusted([&] {
                signing::CheckSignature(unpacked, *trustedKey);
                signing::CheckPayloads(unpacked, descriptor.entries);
            });
            log_.Line("signature and every file's SHA-256 match UpdateKey.pub");
            // Proven by the key, it must also be newer than the last package the key proved here.
            RefuseReplayedPackage(programDirectory_, descriptor.version);
        }
        InstallTransaction transaction =
            PlaceFiles(files, plan, descriptor.version, packageSha256, trustedKey ? &descriptor.entries : nullptr);
        Finish(files, transaction, package, descriptor.version);
        lock.reset();  // the run is over: the box below waits for the user, not the next install
        view_.Notify(InformationNotice(text::kSucceeded));
    } catch (const ERefusal& refusal) {
        view_.Notify(refusal.GetNotice());
    } catch (const std::exception& error) {
        log_.Unexpected(WithFullStop(error.what()));
        throw;
    }
}

// Returns the notice of a missing unzip32.dll, which unpacks nothing: the install goes on, to find no descriptor.
std::optional<Notice> TInstallFlow::Extract(const std::string& package, const std::string& staging) const
{
    try {
        return extractor_.UnZipArchive(package, staging, programDirectory_);
    } catch (const EUnzipError& error) {
        throw ERefusal(ErrorNotice(text::ExtractionFailed(error)));
    }
}

// Moves every planned file into place as one transaction, the status line naming each. A step that fails is
// undone, the status line cleared, and the install refuses with what happened.
InstallTransaction TInstallFlow::PlaceFiles(FileOperations& files, const std::vector<PlannedFile>& plan,
                                            const std::string& version, const std::string& packageSha256,
                                            const std::vector<PackageFile>* signedEntries)
{
    std::optional<InstallTransaction> transaction;
    try {
        transaction.emplace(InstallTransaction::Begin(files, programDirectory_, &log_));
        for (const PlannedFile& file : plan) {
            view_.SetStatus(text::Upgrading(file.name));
            view_.PaintNow();
            DelayWithMessages();
            transaction->MakeDirectories(file.directory);
            transaction->PlaceUnpackedFile(file.name, file.directory);
        }
        // What was checked in the staging folder is checked again where it now is: nothing may have changed it on
        // its way.
        if (signedEntries) {
            signing::CheckPlacedFiles(*signedEntries, [this](const PackageFile& entry) {
                return programDirectory_ + NormalizeDirectory(entry.path) + entry.name;
            });
            transaction->PlaceVersionFloor(version);
        }
        transaction->PlaceDescriptor();
        transaction->Commit(version, packageSha256);
    } catch (const EInstallStepError& error) {
        log_.Failure(StepName(error.GetStep()), error.Path(), error.Code());
        const std::string whatHappened = UndoFailedStep(transaction, error);
        view_.SetStatus("");
        throw ERefusal(ErrorNotice(whatHappened));
    } catch (const signing::EPackageNotTrusted& refused) {
        const std::string whatHappened = UndoRefusedInstall(transaction, refused);
        view_.SetStatus("");
        throw ERefusal(ErrorNotice(whatHappened));
    } catch (...) {
        RollBackQuietly(transaction);
        throw;
    }
    return std::move(*transaction);
}

// The package goes and the version is recorded. A package that could not be deleted keeps the journal, which
// knows it as installed: the next click deletes it instead of installing it again.
void TInstallFlow::Finish(FileOperations& files, InstallTransaction& transaction, const std::string& package,
                          const std::string& version)
{
    const bool packageDeleted = DeletePackage(files, package, log_);
    view_.SetStatus(std::string(text::kUpdatingVersion));
    log_.Line("recording version " + version + " in the local database (its errors are not reported)");
    RecordInstalledVersion(programDirectory_, version);
    if (packageDeleted) {
        transaction.Finish();
    } else {
        transaction.RemoveBackups();
    }
    DelayWithMessages();
    view_.SetStatus("");
}
