#include "install/InstallTransaction.h"

#include <algorithm>

#include "Paths.h"
#include "Text.h"
#include "install/SafeNames.h"

namespace {

// Relative to the program directory. The package is extracted flat into Temp\, so no entry of it can make or
// replace anything inside this subdirectory.
constexpr std::string_view kJournalDirectory = "Temp\\InstallJournal\\";
constexpr std::string_view kJournalName = "journal.log";

bool Exists(const std::string& path)
{
    return GetFileAttributesW(ToApiPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool InJournalDirectory(const std::string& relative)
{
    return relative.size() > kJournalDirectory.size() &&
           SameFileName(std::string_view(relative).substr(0, kJournalDirectory.size()), kJournalDirectory);
}

// The file a user knows of in a move: the one in the program directory rather than the one in Temp\.
const std::string& PathInProgram(const JournalStep& step)
{
    return SameFileName(std::string_view(step.path).substr(0, 5), "Temp\\") ? step.target : step.path;
}

std::string BackupName(unsigned sequence)
{
    return std::string(kJournalDirectory) + std::to_string(sequence) + ".bak";
}

}  // namespace

std::string InstallTransaction::JournalDirectory(const std::string& programDirectory)
{
    return programDirectory + std::string(kJournalDirectory);
}

std::string InstallTransaction::JournalPath(const std::string& programDirectory)
{
    return JournalDirectory(programDirectory) + std::string(kJournalName);
}

InstallTransaction::InstallTransaction(FileOperations& files, std::string programDirectory)
    : files_(&files), programDirectory_(std::move(programDirectory))
{
}

void InstallTransaction::RemoveLeftovers(FileOperations& files, const std::string& programDirectory)
{
    const std::string directory = JournalDirectory(programDirectory);
    if (!DirectoryExists(directory) || FileExists(JournalPath(programDirectory))) return;
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const UniqueFind search(FindFirstFileW(ToApiPath(directory + "*").c_str(), &found));
    if (search.get() != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(Narrow(found.cFileName));
        } while (FindNextFileW(search.get(), &found));
    }
    try {
        for (const std::string& name : names) {
            try {
                files.Delete(directory + name);
            } catch (const FileOperationError&) {  // still in use: another click will get it
            }
        }
        files.RemoveEmptyDirectory(directory);
    } catch (const FileOperationError&) {  // an empty directory left behind is reused by the next install
    }
}

InstallTransaction InstallTransaction::Begin(FileOperations& files, const std::string& programDirectory)
{
    InstallTransaction transaction(files, programDirectory);
    const std::string directory = JournalDirectory(programDirectory);
    const std::string journal = JournalPath(programDirectory);
    try {
        // A journal found here has not been dealt with; it is never thrown away unread.
        if (FileExists(journal)) {
            throw FileOperationError("An install journal is still waiting to be dealt with", journal,
                                     ERROR_ALREADY_EXISTS);
        }
        RemoveLeftovers(files, programDirectory);
        if (!DirectoryExists(directory)) files.MakeDirectory(directory);
        transaction.journal_.emplace(files, journal);
    } catch (const FileOperationError& error) {
        throw InstallStepError(InstallStepError::Step::WriteJournal, error);
    }
    return transaction;
}

std::optional<InstallTransaction> InstallTransaction::Resume(FileOperations& files,
                                                             const std::string& programDirectory)
{
    const std::string path = JournalPath(programDirectory);
    if (!FileExists(path)) return std::nullopt;
    JournalContents contents;
    try {
        contents = ReadJournal(path);
    } catch (const JournalCorrupt&) {
        throw RollbackError(path, ERROR_FILE_CORRUPT);
    } catch (const FileOperationError& error) {
        throw RollbackError(path, error.Code());
    }
    // Whatever the journal says, nothing outside the program directory is touched.
    for (const JournalStep& step : contents.steps) {
        if (!IsSafeRelativePath(step.path) ||
            (step.kind == JournalStep::Kind::Move && !IsSafeRelativePath(step.target))) {
            throw RollbackError(path, ERROR_FILE_CORRUPT);
        }
    }

    InstallTransaction transaction(files, programDirectory);
    transaction.resumedLength_ = contents.intactLength;
    transaction.steps_ = std::move(contents.steps);
    transaction.undone_ = std::move(contents.undone);
    transaction.committedVersion_ = std::move(contents.committedVersion);
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
    } catch (const FileOperationError& error) {
        throw InstallStepError(InstallStepError::Step::WriteJournal, error);
    }
}

void InstallTransaction::MakeDirectories(const std::string& relativeDirectory)
{
    std::string prefix;
    for (size_t start = 0, separator; (separator = relativeDirectory.find('\\', start)) != std::string::npos;
         start = separator + 1) {
        prefix = relativeDirectory.substr(0, separator);
        const std::string directory = Absolute(prefix);
        if (DirectoryExists(directory)) continue;
        Record({JournalStep::Kind::MakeDirectory, nextSequence_++, prefix, {}});
        try {
            files_->MakeDirectory(directory);
        } catch (const FileOperationError& error) {
            throw InstallStepError(InstallStepError::Step::MakeDirectory, error);
        }
    }
}

void InstallTransaction::PlaceFile(const std::string& relativeSource, const std::string& relativeDestination)
{
    const std::string destination = Absolute(relativeDestination);
    if (DirectoryExists(destination)) {
        throw InstallStepError(InstallStepError::Step::PlaceFile, destination, ERROR_ALREADY_EXISTS);
    }
    if (FileExists(destination)) {
        unsigned sequence = nextSequence_++;
        // A backup that was still in use when an earlier install finished may hold its name.
        while (Exists(Absolute(BackupName(sequence)))) sequence = nextSequence_++;
        const std::string backup = BackupName(sequence);
        Record({JournalStep::Kind::Move, sequence, relativeDestination, backup});
        try {
            files_->Move(destination, Absolute(backup));
        } catch (const FileOperationError& error) {
            throw InstallStepError(InstallStepError::Step::ReplaceFile, destination, error.Code());
        }
    }
    Record({JournalStep::Kind::Move, nextSequence_++, relativeSource, relativeDestination});
    try {
        files_->Move(Absolute(relativeSource), destination);
    } catch (const FileOperationError& error) {
        throw InstallStepError(InstallStepError::Step::PlaceFile, destination, error.Code());
    }
}

void InstallTransaction::Commit(const std::string& version)
{
    try {
        journal_->Commit(version);
    } catch (const FileOperationError& error) {
        throw InstallStepError(InstallStepError::Step::WriteJournal, error);
    }
    committedVersion_ = version;
}

void InstallTransaction::Undo(const JournalStep& step)
{
    if (step.kind == JournalStep::Kind::MakeDirectory) {
        const std::string directory = Absolute(step.path);
        if (!DirectoryExists(directory)) return;
        try {
            files_->RemoveEmptyDirectory(directory);  // one that holds files of someone else's stays
        } catch (const FileOperationError& error) {
            throw RollbackError(directory, error.Code());
        }
        return;
    }
    const std::string from = Absolute(step.path);
    const std::string to = Absolute(step.target);
    if (!Exists(to)) return;  // never made, or undone already
    // Both there: something else has put a file where ours was; guessing which to keep could lose one.
    if (Exists(from)) throw RollbackError(Absolute(PathInProgram(step)), ERROR_ALREADY_EXISTS);
    try {
        files_->Move(to, from);
    } catch (const FileOperationError& error) {
        throw RollbackError(Absolute(PathInProgram(step)), error.Code());
    }
}

void InstallTransaction::RecordUndone(unsigned sequence)
{
    try {
        if (!journal_) journal_.emplace(*files_, JournalPath(programDirectory_), resumedLength_);
        journal_->Undone(sequence);
    } catch (const FileOperationError& error) {
        throw RollbackError(JournalPath(programDirectory_), error.Code());
    }
}

void InstallTransaction::RollBack()
{
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
        if (undone_.count(step->sequence) != 0) continue;
        Undo(*step);
        RecordUndone(step->sequence);
        undone_.insert(step->sequence);
    }
    try {
        journal_.reset();
        files_->Delete(JournalPath(programDirectory_));
    } catch (const FileOperationError& error) {
        throw RollbackError(error.Path(), error.Code());
    }
    try {
        files_->RemoveEmptyDirectory(JournalDirectory(programDirectory_));
    } catch (const FileOperationError&) {  // an empty directory left behind is reused by the next install
    }
}

bool InstallTransaction::Finish()
{
    for (const JournalStep& step : steps_) {
        if (step.kind != JournalStep::Kind::Move || !InJournalDirectory(step.target)) continue;
        const std::string backup = Absolute(step.target);
        try {
            if (FileExists(backup)) files_->Delete(backup);
        } catch (const FileOperationError&) {  // still in use (a library a program has loaded): left for later
        }
    }
    journal_.reset();
    try {
        files_->Delete(JournalPath(programDirectory_));
    } catch (const FileOperationError&) {
        return false;
    }
    try {
        files_->RemoveEmptyDirectory(JournalDirectory(programDirectory_));
    } catch (const FileOperationError&) {  // an empty directory left behind is reused by the next install
    }
    return true;
}
