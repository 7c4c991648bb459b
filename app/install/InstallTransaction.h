// An install as one transaction over the program directory: all of it happens, or none of it.
//
// Every change is written to a journal in Temp\InstallJournal\ and flushed to the disk before it is made. A file
// about to be replaced is first moved aside into that directory; the new file is then moved into its place from
// the staging folder the package was unpacked into.
// RollBack() undoes the recorded changes newest first. Commit() marks the install as done for good; Finish() then
// removes the backups and the journal. A journal left by a run that was killed or lost power is found by
// Resume() at the next click and rolled back (or, if it was committed, finished).
//
// Undoing a step looks at the disk rather than trusting that the step was made: a step is recorded before it is
// made, and a crash can fall between the two. A move has happened entirely or not at all, or, across volumes, has
// left the same bytes under both names (FileOperations::Move), which undoing recognises. Each undone step is
// recorded too, so that a rollback cut short resumes where it stopped.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Errors.h"
#include "install/FileOperations.h"
#include "install/Journal.h"

class UpdateLog;

// An install step failed. The path is absolute: the destination concerned, or the journal.
class EInstallStepError : public Exception {
public:
    enum class Step { WriteJournal, MakeDirectory, ReplaceFile, PlaceFile, FlushFile };

    EInstallStepError(Step step, const EFileOperationError& cause)
        : Exception(cause.what()), step_(step), path_(cause.Path()), code_(cause.Code())
    {
    }
    EInstallStepError(Step step, std::string path, unsigned long code)
        : Exception("install step failed on \"" + path + "\": system error " + std::to_string(code)),
          step_(step),
          path_(std::move(path)),
          code_(code)
    {
    }
    Step GetStep() const { return step_; }
    const std::string& Path() const { return path_; }
    unsigned long Code() const { return code_; }

private:
    Step step_;
    std::string path_;
    unsigned long code_;
};

// Undoing failed; the journal stays, so that the next click tries again. The path is absolute: the program
// directory's file or directory that could not be restored, or the journal. ERROR_FILE_CORRUPT: the journal is
// not one this program wrote, and nothing can be undone by it; kErrorLinkInTheWay: the path is a link that the
// install will not go through.
class ERollbackError : public Exception {
public:
    ERollbackError(std::string path, unsigned long code)
        : Exception("cannot undo the install at \"" + path + "\": system error " + std::to_string(code)),
          path_(std::move(path)),
          code_(code)
    {
    }
    const std::string& Path() const { return path_; }
    unsigned long Code() const { return code_; }

private:
    std::string path_;
    unsigned long code_;
};

class InstallTransaction {
public:
    // Temp\InstallJournal\ under the program directory; the journal is "journal.log" in it.
    static std::string JournalDirectory(const std::string& programDirectory);
    static std::string JournalPath(const std::string& programDirectory);

    // Starts a transaction: removes what a finished one may have left in the journal directory (and a file that
    // stands where that directory belongs) and writes a new, empty journal. Nothing in the program directory
    // changes. Raises EInstallStepError(WriteJournal), also when a journal is still waiting to be dealt with
    // (Resume first). `log`, when given, is told each file placed and each change undone.
    static InstallTransaction Begin(FileOperations& files, const std::string& programDirectory,
                                    UpdateLog* log = nullptr);

    // Removes, as far as it can, what a finished transaction left in the journal directory: a backup that was in
    // use when the install finished, or the empty directory. Leaves a journal alone.
    static void RemoveLeftovers(FileOperations& files, const std::string& programDirectory);

    // The transaction an interrupted run left, if there is one. Temp\ or the journal directory being a link
    // raises ERollbackError with kErrorLinkInTheWay; a journal that holds anything but the steps this program
    // writes raises ERollbackError with ERROR_FILE_CORRUPT. Either way nothing is touched, at every click.
    static std::optional<InstallTransaction> Resume(FileOperations& files, const std::string& programDirectory,
                                                    UpdateLog* log = nullptr);

    bool Committed() const { return committedVersion_.has_value(); }
    const std::string& CommittedVersion() const { return *committedVersion_; }
    // The SHA-256 (lower-case hex) of the package that the committed install installed.
    const std::string& CommittedPackage() const { return committedPackage_; }
    // Whether any recorded change is still to be undone.
    bool HasChangesToUndo() const;

    // Creates the missing levels of a directory relative to the program directory ("A\B\" or "").
    void MakeDirectories(const std::string& relativeDirectory);
    // Moves the unpacked file of this name from the staging folder into the directory (relative to the program
    // directory, empty or ending in '\'), moving a file already there aside first.
    void PlaceUnpackedFile(const std::string& name, const std::string& relativeDirectory);
    // Moves the unpacked descriptor to Temp\update.xml, where the suite's other programs and support read the
    // descriptor of the package installed last, moving the one already there aside first.
    void PlaceDescriptor();
    // Writes the version floor (install/VersionFloor.h) for this version into the staging folder and moves it to
    // UpdateKey.floor, moving the one already there aside first: the floor rises only if the install commits.
    void PlaceVersionFloor(const std::string& version);
    // Waits until every placed file is on the disk, then records the commit. From here on the install counts as
    // done: a crash leads to Finish, never to a rollback. The journal keeps which package was installed, so that
    // the same package is never installed twice over.
    void Commit(const std::string& version, const std::string& packageSha256);

    // Undoes every recorded change, newest first, then removes the journal. Raises ERollbackError.
    void RollBack();
    // After Commit: removes the backups, then the journal. A backup that cannot be removed (still in use) is left
    // for RemoveLeftovers; false when the journal itself could not be removed, which the next click then finishes.
    bool Finish();
    // After Commit: removes the backups and keeps the journal, which goes on telling the installed package.
    void RemoveBackups();

private:
    InstallTransaction(FileOperations& files, std::string programDirectory, UpdateLog* log);

    void Place(const std::string& relativeSource, const std::string& relativeDestination);
    void Record(const JournalStep& step);
    // Returns what it did, for the log; empty when the step had never been made or was undone already.
    std::string Undo(const JournalStep& step);
    void Note(const std::string& line) const;
    void NoteFailure(std::string_view what, const std::string& path, unsigned long code) const;
    void RecordUndone(unsigned sequence);
    std::string Absolute(const std::string& relative) const { return programDirectory_ + relative; }

    FileOperations* files_;
    std::string programDirectory_;
    UpdateLog* log_;
    std::optional<JournalWriter> journal_;  // open while this run writes to it
    unsigned long long resumedLength_ = 0;  // where a resumed journal's whole records end
    std::vector<JournalStep> steps_;
    std::set<unsigned> undone_;
    std::optional<std::string> committedVersion_;
    std::string committedPackage_;
    unsigned nextSequence_ = 1;
};
