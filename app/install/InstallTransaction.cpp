#include "install/InstallTransaction.h"

#include <algorithm>

#include "Paths.h"
#include "Text.h"
#include "install/InstallLayout.h"
#include "install/SafeNames.h"
#include "install/UpdateLog.h"
#include "install/VersionFloor.h"

namespace {

using layout::kDescriptor;
using layout::kInstalledDescriptor;
using layout::kJournal;
using layout::kStaging;
using layout::kTemp;
using layout::kVersionFloor;

constexpr std::string_view kJournalName = "journal.log";

bool Exists(const std::string& path)
{
    return GetFileAttributesW(ToApiPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool StartsWith(std::string_view text, std::string_view start)
{
    return text.size() > start.size() && SameFileName(text.substr(0, start.size()), start);
}

bool InJournalDirectory(const std::string& relative)
{
    return StartsWith(relative, kJournal);
}

// The file a user knows of in a move: the one in the program directory rather than the one in the staging folder
// or among the backups.
const std::string& PathInProgram(const JournalStep& step)
{
    return StartsWith(step.path, kStaging) ? step.target : step.path;
}

std::string BackupName(unsigned sequence)
{
    return std::string(kJournal) + std::to_string(sequence) + ".bak";
}

std::string WithoutSeparator(std::string_view folder)
{
    return std::string(folder.substr(0, folder.size() - 1));
}

// Whether the install may put a file here (or move the one here aside): anywhere but the updater's own items,
// apart from the descriptor it leaves in Temp\ and the version floor.
bool MayReplace(const std::string& relative)
{
    return relative == kInstalledDescriptor || relative == kVersionFloor ||
           !install_layout::OwnedByTheUpdater(relative, false);
}

// Only what this program's writer records, so that a journal from anywhere else can make it neither move nor
// delete anything of the updater's own: folders made outside its own items, a destination moved aside to the
// backup its step names, an unpacked file placed under its own name, and the descriptor placed in Temp\.
bool WrittenByThisProgram(const JournalStep& step)
{
    if (!IsSafeRelativePath(step.path)) return false;
    if (step.kind == JournalStep::Kind::MakeDirectory) return !install_layout::OwnedByTheUpdater(step.path, true);
    if (step.target == BackupName(step.sequence)) return MayReplace(step.path);
    if (!StartsWith(step.path, kStaging) || !IsSafeRelativePath(step.target) || !MayReplace(step.target)) return false;
    const std::string name = step.path.substr(kStaging.size());
    const bool descriptor = SameFileName(name, kDescriptor) || SameFileName(step.target, kInstalledDescriptor);
    if (descriptor) return name == kDescriptor && step.target == kInstalledDescriptor;
    return !FileNameProblem(name) && ExtractFileName(step.target) == name;
}

bool IsSha256(const std::string& text)
{
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool WrittenByThisProgram(const JournalContents& contents)
{
    std::set<unsigned> sequences;
    unsigned last = 0;
    for (const JournalStep& step : contents.steps) {
        if (step.sequence <= last || !WrittenByThisProgram(step)) return false;
        last = step.sequence;
        sequences.insert(step.sequence);
    }
    const bool undoneKnown =
        std::includes(sequences.begin(), sequences.end(), contents.undone.begin(), contents.undone.end());
    return undoneKnown && (!contents.committedVersion || IsSha256(contents.committedPackage));
}

// Nothing is enumerated, deleted or moved through a link at Temp\ or at the journal directory: it would happen
// wherever the link points.
void RefuseLinks(const std::string& programDirectory)
{
    for (const std::string_view folder : {kTemp, kJournal}) {
        const std::string path = programDirectory + WithoutSeparator(folder);
        if (IsLink(path)) throw ERollbackError(path, kErrorLinkInTheWay);
    }
}

}  // namespace

std::string InstallTransaction::JournalDirectory(const std::string& programDirectory)
{
    return programDirectory + std::string(kJournal);
}

std::string InstallTransaction::JournalPath(const std::string& programDirectory)
{
    return JournalDirectory(programDirectory) + std::string(kJournalName);
}

InstallTransaction::InstallTransaction(FileOperations& files, std::string programDirectory, UpdateLog* log)
    : files_(&files), programDirectory_(std::move(programDirectory)), log_(log)
{
}

void InstallTransaction::Note(const std::string& line) const
{
    if (log_ != nullptr) log_->Line(line);
}

void InstallTransaction::NoteFailure(std::string_view what, const std::string& path, unsigned long code) const
{
    if (log_ != nullptr) log_->Failure(what, path, code);
}

void InstallTransaction::RemoveLeftovers(FileOperations& files, const std::string& programDirectory)
{
    const std::string directory = JournalDirectory(programDirectory);
    if (IsLink(WithoutSeparator(directory)) || !DirectoryExists(directory) ||
        FileExists(JournalPath(programDirectory))) {
        return;
    }
    try {
        for (const FolderItem& item : ListFolder(directory)) {
            if (item.IsDirectory() || item.IsLink()) continue;
            try {
                files.Delete(directory + item.name);
            } catch (const EFileOperationError&) {  // still in use: another click will get it
            }
        }
        files.RemoveEmptyDirectory(directory);
    } catch (const EFileOperationError&) {  // an empty directory left behind is reused by the next install
    }
}

InstallTransaction InstallTransaction::Begin(FileOperations& files, const std::string& programDirectory, UpdateLog* log)
{
    InstallTransaction transaction(files, programDirectory, log);
    const std::string directory = JournalDirectory(programDirectory);
    const std::string journal = JournalPath(programDirectory);
    try {
        // A journal found here has not been dealt with; it is never thrown away unread.
        if (FileExists(journal)) {
            throw EFileOperationError("An install journal is still waiting to be dealt with", journal,
                                      ERROR_ALREADY_EXISTS);
        }
        const std::string folder = WithoutSeparator(directory);
        if (IsLink(folder)) throw EFileOperationError("A link stands in the install's way", folder, kErrorLinkInTheWay);
        // A file where the journal's directory belongs holds no journal (an older version of this program let a
        // package unpack one there): left in place, it would stop every install after it.
        if (FileExists(folder)) files.Delete(folder);
        RemoveLeftovers(files, programDirectory);
        if (!DirectoryExists(directory)) files.MakeDirectory(directory);
        transaction.journal_.emplace(files, journal);
    } catch (const EFileOperationError& error) {
        throw EInstallStepError(EInstallStepError::Step::WriteJournal, error);
    }
    return transaction;
}

std::optional<InstallTransaction> InstallTransaction::Resume(FileOperations& files, const std::string& programDirectory,
                                                             UpdateLog* log)
{
    RefuseLinks(programDirectory);
    const std::string path = JournalPath(programDirectory);
    if (!FileExists(path)) return std::nullopt;
    JournalContents contents;
    try {
        contents = ReadJournal(path);
    } catch (const EJournalCorrupt&) {
        throw ERollbackError(path, ERROR_FILE_CORRUPT);
    } catch (const EFileOperationError& error) {
        throw ERollbackError(path, error.Code());
    }
    if (!WrittenByThisProgram(contents)) throw ERollbackError(path, ERROR_FILE_CORRUPT);

    InstallTransaction transaction(files, programDirectory, log);
    transaction.resumedLength_ = contents.intactLength;
    transaction.steps_ = std::move(contents.steps);
    transaction.undone_ = std::move(contents.undone);
    transaction.committedVersion_ = std::move(contents.committedVersion);
    transaction.committedPackage_ = std::move(contents.committedPackage);
    for (const JournalStep& step : transaction.steps_) {
        transaction.nextSequence_ = std::max(transaction.nextSequence_, step.sequence + 1);
    }
    return transaction;
}

bool InstallTransaction::HasChangesToUndo() const
{
    return std::any_of(steps_.begin(), steps_.end(),
                       [this](const JournalStep& step) { return undone_.count(step.sequence) == 0; });
}

void InstallTransaction::Record(const JournalStep& step)
{
    // Kept before it is written: a record that fails half way is undone like any other (it was never made).
    steps_.push_back(step);
    try {
        if (step.kind == JournalStep::Kind::MakeDirectory) {
            journal_->MakeDirectory(step.sequence, step.path);
        } else {
            journal_->Move(step.sequence, step.path, step.target);
        }
    } catch (const EFileOperationError& error) {
        throw EInstallStepError(EInstallStepError::Step::WriteJournal, error);
    }
}

void InstallTransaction::MakeDirectories(const std::string& relativeDirectory)
{
    for (const std::string& withSeparator : DirectoryPrefixes(relativeDirectory)) {
        const std::string prefix = withSeparator.substr(0, withSeparator.size() - 1);
        const std::string directory = Absolute(prefix);
        if (DirectoryExists(directory)) continue;
        Record({JournalStep::Kind::MakeDirectory, nextSequence_++, prefix, {}});
        try {
            files_->MakeDirectory(directory);
        } catch (const EFileOperationError& error) {
            throw EInstallStepError(EInstallStepError::Step::MakeDirectory, error);
        }
        Note("directory made: " + directory);
    }
}

void InstallTransaction::PlaceUnpackedFile(const std::string& name, const std::string& relativeDirectory)
{
    Place(std::string(kStaging) + name, relativeDirectory + name);
}

void InstallTransaction::PlaceDescriptor()
{
    Place(std::string(kStaging) + std::string(kDescriptor), std::string(kInstalledDescriptor));
}

void InstallTransaction::PlaceVersionFloor(const std::string& version)
{
    const std::string staged = std::string(kStaging) + std::string(kVersionFloor);
    try {
        const UniqueHandle file = files_->CreateNew(Absolute(staged));
        files_->WriteDurably(file.get(), Absolute(staged), VersionFloorText(version));
    } catch (const EFileOperationError& error) {
        throw EInstallStepError(EInstallStepError::Step::PlaceFile, Absolute(std::string(kVersionFloor)), error.Code());
    }
    Place(staged, std::string(kVersionFloor));
}

void InstallTransaction::Place(const std::string& relativeSource, const std::string& relativeDestination)
{
    const std::string destination = Absolute(relativeDestination);
    if (DirectoryExists(destination)) {
        throw EInstallStepError(EInstallStepError::Step::PlaceFile, destination, ERROR_ALREADY_EXISTS);
    }
    const bool replacing = FileExists(destination);
    if (replacing) {
        unsigned sequence = nextSequence_++;
        // A backup that was still in use when an earlier install finished may hold its name.
        while (Exists(Absolute(BackupName(sequence)))) sequence = nextSequence_++;
        const std::string backup = BackupName(sequence);
        Record({JournalStep::Kind::Move, sequence, relativeDestination, backup});
        try {
            files_->Move(destination, Absolute(backup));
        } catch (const EFileOperationError& error) {
            throw EInstallStepError(EInstallStepError::Step::ReplaceFile, destination, error.Code());
        }
    }
    Record({JournalStep::Kind::Move, nextSequence_++, relativeSource, relativeDestination});
    try {
        files_->Move(Absolute(relativeSource), destination);
    } catch (const EFileOperationError& error) {
        throw EInstallStepError(EInstallStepError::Step::PlaceFile, destination, error.Code());
    }
    Note("placed: " + destination + (replacing ? " (replaced)" : " (new)"));
}

void InstallTransaction::Commit(const std::string& version, const std::string& packageSha256)
{
    // The archive library wrote the new files without waiting for the disk, and a move on one volume is a rename:
    // each file's bytes must be on the disk before the commit lets the backups go.
    for (const JournalStep& step : steps_) {
        if (step.kind != JournalStep::Kind::Move || !StartsWith(step.path, kStaging)) continue;
        try {
            files_->Flush(Absolute(step.target));
        } catch (const EFileOperationError& error) {
            throw EInstallStepError(EInstallStepError::Step::FlushFile, Absolute(step.target), error.Code());
        }
    }
    try {
        journal_->Commit(version, packageSha256);
    } catch (const EFileOperationError& error) {
        throw EInstallStepError(EInstallStepError::Step::WriteJournal, error);
    }
    committedVersion_ = version;
    committedPackage_ = packageSha256;
    Note("committed: version " + version);
}

std::string InstallTransaction::Undo(const JournalStep& step)
{
    if (step.kind == JournalStep::Kind::MakeDirectory) {
        const std::string directory = Absolute(step.path);
        if (!DirectoryExists(directory)) return {};
        try {
            // One that holds files of someone else's stays.
            if (!files_->RemoveEmptyDirectory(directory)) return "directory kept (it holds other files): " + directory;
        } catch (const EFileOperationError& error) {
            throw ERollbackError(directory, error.Code());
        }
        return "directory removed: " + directory;
    }
    const std::string from = Absolute(step.path);
    const std::string to = Absolute(step.target);
    const std::string known = Absolute(PathInProgram(step));
    try {
        files_->DiscardPartialCopy(to);
        if (!Exists(to)) return {};  // never made, or undone already
        if (Exists(from)) {
            // A move across volumes cut between its copy and the deletion of its source leaves the same bytes
            // under both names: the copy goes. Anything else is someone else's file, and guessing which to keep
            // could lose one.
            if (!FileExists(from) || !FileExists(to) || !SameBytes(from, to)) {
                throw ERollbackError(known, ERROR_ALREADY_EXISTS);
            }
            files_->Delete(to);
            return "second copy deleted: " + to;
        }
        files_->Move(to, from);
    } catch (const EFileOperationError& error) {
        throw ERollbackError(known, error.Code());
    }
    return "moved back: " + to + " -> " + from;
}

void InstallTransaction::RecordUndone(unsigned sequence)
{
    try {
        if (!journal_) journal_.emplace(*files_, JournalPath(programDirectory_), resumedLength_);
        journal_->Undone(sequence);
    } catch (const EFileOperationError& error) {
        throw ERollbackError(JournalPath(programDirectory_), error.Code());
    }
}

void InstallTransaction::RollBack()
{
    Note("rollback: undoing the install's changes, newest first");
    try {
        if (journal_) journal_->MakeWhole();
    } catch (const EFileOperationError& error) {
        // Nothing is undone while a commit record may stand in the journal: the next click goes by what it reads.
        NoteFailure("rollback stopped: cannot repair the journal", error.Path(), error.Code());
        throw ERollbackError(JournalPath(programDirectory_), error.Code());
    }
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
        if (undone_.count(step->sequence) != 0) continue;
        try {
            const std::string done = Undo(*step);
            if (!done.empty()) Note("undone: " + done);
            RecordUndone(step->sequence);
        } catch (const ERollbackError& error) {
            NoteFailure("rollback stopped: cannot restore", error.Path(), error.Code());
            throw;
        }
        undone_.insert(step->sequence);
    }
    try {
        journal_.reset();
        files_->Delete(JournalPath(programDirectory_));
    } catch (const EFileOperationError& error) {
        NoteFailure("rollback stopped: cannot delete the journal", error.Path(), error.Code());
        throw ERollbackError(error.Path(), error.Code());
    }
    Note("rollback: done, the journal removed");
    try {
        files_->RemoveEmptyDirectory(JournalDirectory(programDirectory_));
    } catch (const EFileOperationError&) {  // an empty directory left behind is reused by the next install
    }
}

void InstallTransaction::RemoveBackups()
{
    for (const JournalStep& step : steps_) {
        if (step.kind != JournalStep::Kind::Move || !InJournalDirectory(step.target)) continue;
        const std::string backup = Absolute(step.target);
        try {
            if (FileExists(backup)) files_->Delete(backup);
        } catch (const EFileOperationError&) {  // still in use (a library a program has loaded): left for later
        }
    }
}

bool InstallTransaction::Finish()
{
    RemoveBackups();
    journal_.reset();
    try {
        files_->Delete(JournalPath(programDirectory_));
    } catch (const EFileOperationError& error) {
        NoteFailure("the journal stays for the next click: cannot delete", error.Path(), error.Code());
        return false;
    }
    Note("finished: backups and journal removed");
    try {
        files_->RemoveEmptyDirectory(JournalDirectory(programDirectory_));
    } catch (const EFileOperationError&) {  // an empty directory left behind is reused by the next install
    }
    return true;
}
