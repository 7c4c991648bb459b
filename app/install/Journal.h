// The install journal: a record of every change an install makes to the program directory, written and flushed
// to the disk before the change is made, so that a run that is killed or loses power can be undone at the next
// click. A text file of one record per line; each line carries a checksum, so that a record torn by a crash is
// recognised and ignored together with anything after it.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Handles.h"
#include "install/FileOperations.h"

// One change, recorded before it is made. Paths are relative to the program directory.
struct JournalStep {
    enum class Kind { MakeDirectory, Move };

    Kind kind;
    unsigned sequence;
    std::string path;    // the directory made, or the file moved
    std::string target;  // where a move takes the file

    friend bool operator==(const JournalStep&, const JournalStep&) = default;
};

struct JournalContents {
    std::vector<JournalStep> steps;               // in the order they were recorded
    std::set<unsigned> undone;                    // steps whose change has been reversed
    std::optional<std::string> committedVersion;  // set once the install is done for good (no undo record after it)
    std::string committedPackage;                 // with it: the installed package's SHA-256, lower-case hex
    unsigned long long intactLength = 0;          // bytes up to the end of the last whole record
};

// A journal whose whole records make no sense: not ours, or from a format we do not know.
class EJournalCorrupt : public Exception {
public:
    using Exception::Exception;
};

// One record as a line: the fields, tab-separated with tab, line breaks and '%' escaped, then the checksum.
std::string EncodeRecord(const std::vector<std::string>& fields);
// The fields of a line (without its line feed); nothing when the checksum does not match.
std::optional<std::vector<std::string>> DecodeRecord(std::string_view line);

// Reads the journal's text. A journal cut short before its header was complete reads as an empty one.
JournalContents ParseJournal(std::string_view text);
// Reads the journal file; a file that cannot be read raises EFileOperationError.
JournalContents ReadJournal(const std::string& path);

class JournalWriter {
public:
    // Starts a new journal; the file must not exist.
    JournalWriter(FileOperations& files, std::string path);
    // Goes on writing a journal left by an interrupted run, after its last whole record.
    JournalWriter(FileOperations& files, std::string path, unsigned long long intactLength);

    void MakeDirectory(unsigned sequence, const std::string& directory);
    void Move(unsigned sequence, const std::string& from, const std::string& to);
    void Commit(const std::string& version, const std::string& packageSha256);
    void Undone(unsigned sequence);

    // After a write that failed, cuts the journal back to its last whole record (and waits until that is on the
    // disk); nothing otherwise. Every write does it first; a rollback does it before it undoes anything, so that a
    // commit record that reached the disk although its write failed cannot stand. EFileOperationError when the
    // journal cannot be cut back.
    void MakeWhole();

    const std::string& Path() const { return path_; }
    void Close() { file_.reset(); }

private:
    void Append(const std::vector<std::string>& fields);

    FileOperations* files_;
    std::string path_;
    UniqueHandle file_;
    unsigned long long length_ = 0;  // the end of the last whole record
    bool torn_ = false;              // a write failed and what it may have left is not cut back yet
};
