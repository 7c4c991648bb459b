// What the install tests share: update packages written with our archive core, pictures of a program directory
// to compare byte for byte, and the updater (Update.exe or the test build UpdateWithFaults.exe) driven through a
// click until it ends in a message box or dies at its cut point.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Driver.h"

namespace install_test {

using namespace driver;

// One payload file and its descriptor entry.
struct Payload {
    std::string name;   // the entry's name attribute, and the archive entry's name
    std::string path;   // the entry's path attribute
    std::string bytes;  // the content
};

// Writes Quellis.sky into the program directory: every payload under its bare name and the descriptor, as our
// packer composes it, under "Update.xml".
void WritePackage(const TempDir& directory, const std::string& version, const std::vector<Payload>& files);
// The same with a descriptor text of the test's own and archive entries of its own.
void WritePackageWithDescriptor(const TempDir& directory, const std::string& descriptor,
                                const std::map<std::string, std::string>& entries);
// Quellis.sky holding exactly these entries (no descriptor unless one of them is it).
void WriteArchive(const TempDir& directory, const std::map<std::string, std::string>& entries);

// An author's key pair, made with the signing library, and packages signed with it as a signed F2 build writes
// them: a sha256 attribute on every entry, Update.xml and its signature Update.sig.
class AuthorKey {
public:
    AuthorKey();
    std::string PublicKeyFile() const;  // the text of UpdateKey.pub
    // Quellis.sky signed with this key; `tamper` then changes the archive's entries (name to bytes) as an attacker
    // would.
    void WriteSignedPackage(const TempDir& directory, const std::string& version, const std::vector<Payload>& files,
                            const std::function<void(std::map<std::string, std::string>&)>& tamper = {}) const;

private:
    std::vector<std::uint8_t> privateBlob_;
    std::vector<std::uint8_t> publicBlob_;
};

// Rewrites the CRC that Quellis.sky records for this entry, in its local header and in the central directory, so
// that unpacking the entry fails its check while the archive otherwise reads.
void CorruptCrc(const TempDir& directory, const std::string& entry);

// Whether the tests run under Wine, where the host's file systems and links stand in for other volumes and
// reparse points.
bool UnderWine();

// A symbolic link on the host, made under Wine with the host's `ln -s` (Wine makes none: CreateSymbolicLinkW
// does nothing there), and removed with the host's `rm` before the tree around it goes: under Wine every Windows
// call on a link acts on what it points to, so the driver's clean-up would empty the target.
class HostLink {
public:
    HostLink(std::wstring link, const std::wstring& target);  // Windows paths; target: an existing folder
    ~HostLink();
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;
    bool Made() const { return made_; }

private:
    std::wstring link_;
    bool made_ = false;
};

// A folder of its own on the host's /dev/shm, a file system other than the test tree's: another volume, as
// Windows programs under Wine see it. Removed with everything in it at the end. Throws unless a plain move from
// `thisVolume` (a folder of the test tree) into it fails with ERROR_NOT_SAME_DEVICE: a host whose /dev/shm is on
// the same file system would let the cross-volume tests pass without crossing anything.
class OtherVolumeFolder {
public:
    explicit OtherVolumeFolder(const std::wstring& thisVolume);
    ~OtherVolumeFolder();
    OtherVolumeFolder(const OtherVolumeFolder&) = delete;
    OtherVolumeFolder& operator=(const OtherVolumeFolder&) = delete;
    const std::wstring& Path() const { return path_; }  // with a trailing backslash

private:
    std::wstring path_;
};

// The program directory as files and directories (directories end in '\'), relative paths mapped to contents,
// Update.exe and the archive libraries included. The test build UpdateWithFaults.exe at the top is left out, and so
// are Temp\ itself and what the updater keeps there (the staging folder, the journal's folder, the descriptor left
// as update.xml, the lock and the log): the rest of Temp\ belongs to the suite.
using Picture = std::map<std::string, std::string>;
Picture TakePicture(const TempDir& directory);
// Removes a directory tree whose paths may be too long for std::filesystem (and for the driver's TempDir).
void RemoveTree(const std::wstring& path);
// What is in Temp\InstallJournal\, if anything: the transaction leaves nothing there once it is over.
std::vector<std::string> JournalLeftovers(const TempDir& directory);

// A readable difference for a failure message; empty when the pictures are equal.
std::string Difference(const Picture& expected, const Picture& actual);

// The updater running in a program directory.
class Updater {
public:
    static constexpr DWORD kKilledExitCode = 77;  // what the test build's --kill-at ends the process with

    Updater(const TempDir& directory, const std::wstring& executable = L"Update.exe",
            const std::wstring& arguments = L"");
    ~Updater();
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    DWORD ProcessId() const { return process_.Id(); }
    HWND Form() const { return form_; }
    std::wstring Status() const;
    void ClickStart() const;

    // The next message box, or nothing when the process ended first (or the time ran out).
    std::optional<MessageBoxInfo> NextBox(std::chrono::milliseconds timeout = 30s);
    // The next box while recording each new text of the status line on the way.
    std::optional<MessageBoxInfo> NextBoxWatchingStatus(std::vector<std::wstring>& statuses,
                                                        std::chrono::milliseconds timeout = 60s);
    bool Ended() { return process_.Wait(0ms); }
    DWORD ExitCode() const { return process_.ExitCode(); }
    bool Close();

private:
    Process process_;
    HWND form_ = nullptr;
};

// A message box as a failure message shows it.
std::string Describe(const MessageBoxInfo& box);

// Reads a trace written by UpdateWithFaults.exe --trace: one line per file operation, counted from 1.
std::vector<std::string> ReadTrace(const std::wstring& path);
// The texts the status line was given, in order, from the same trace: each one, however briefly it showed.
std::vector<std::wstring> ReadStatusTrace(const std::wstring& path);

// A SQLite database of one SysParams table standing in for the suite's local database. While the object lives, the
// test build UpdateWithFaults.exe started from this process writes its version record there (the release writes to
// the Access database, which Wine lacks).
class LocalVersionRecord {
public:
    explicit LocalVersionRecord(const std::string& version);  // one Version row holding this
    ~LocalVersionRecord();
    LocalVersionRecord(const LocalVersionRecord&) = delete;
    LocalVersionRecord& operator=(const LocalVersionRecord&) = delete;

    // The value of every Version row, in order.
    std::vector<std::string> Versions() const;

private:
    TempDir folder_;
    std::string connectionString_;
};

}  // namespace install_test
