// The Info-ZIP Windows DLL interface, as far as the updater uses it: the records that the program hands to
// zip32.dll and unzip32.dll and the entry points it resolves by name. Shared by the program's wrappers and by
// our own libraries, so that both sides agree on one layout.
//
// Info-ZIP's own libraries read every name that crosses this interface in the system's ANSI code page. Ours read
// UTF-8, which lets any file name travel, and say so through one export the originals lack (see
// kTextCodePageExport below). All entry points and callbacks use the platform's standard calling convention.
#pragma once

#include <cstdint>
#include <windows.h>

namespace infozip {

// ---- both libraries: the text encoding of the interface (our extension) ---------------------------------------

// Exported by our zip32.dll and unzip32.dll, by this name and undecorated on i686: returns the code page in which
// the library reads and writes every name and text of the interface, CP_UTF8 (65001) for ours. A library without
// this export is taken to be Info-ZIP's own, which uses the ANSI code page (CP_ACP); a caller converts every name
// it hands over to that code page and refuses a name the code page cannot hold.
constexpr char kTextCodePageExport[] = "ArchiveTextCodePage";
using ArchiveTextCodePageFn = UINT(WINAPI*)();

// ---- zip32.dll ----------------------------------------------------------------------------------------------

// The options record: 128 bytes that the program gets from the library, changes in one field and hands back.
// Our zip32.dll keeps the record as it is given and acts on the junk-directory field alone: it always deflates
// at zlib's default level (storing what does not shrink) and replaces an existing archive instead of adding to it.
struct ZipOptions {
    std::int32_t fields[32];
};
static_assert(sizeof(ZipOptions) == 128);
// The seventeenth field (byte offset 64): store entries without their directory names when non-zero.
constexpr int kJunkDirectoriesField = 16;

using ZipPrintFn = int(WINAPI*)(char* text, unsigned long length);
using ZipCommentFn = char*(WINAPI*)(char* buffer);
using ZipPasswordFn = int(WINAPI*)(char* buffer, int size, const char* prompt, const char* name);
using ZipServiceFn = int(WINAPI*)(const char* name, unsigned long size);

struct ZipCallbacks {
    ZipPrintFn print;
    ZipCommentFn comment;
    ZipPasswordFn password;
    ZipServiceFn service;  // returns non-zero to cancel
};

// The request, passed by value: the archive to write and the files to put in it.
struct ZipRequest {
    int count;
    char* archiveName;
    char** fileNames;
};

// What ZpArchive returns: the exit codes that Info-ZIP's zip documents. Our zip32.dll also sends the reason of
// every failure, as UTF-8 text, to the print callback.
enum ZipResult : int {
    kZipOk = 0,
    kZipOutOfMemory = 4,
    kZipSevereError = 5,      // an unexpected failure inside the library
    kZipCancelled = 9,        // the service callback asked to stop
    kZipNothingToDo = 12,     // no files were given
    kZipWriteError = 14,      // the archive could not be written or put in place
    kZipBadParameters = 16,   // no archive name, a file given twice under one name, a directory given as a file
    kZipCannotOpenFile = 18,  // a file to pack is missing or unreadable
};

using ZpGetOptionsFn = BOOL(WINAPI*)(ZipOptions* options);
using ZpSetOptionsFn = BOOL(WINAPI*)(ZipOptions* options);
using ZpInitFn = int(WINAPI*)(ZipCallbacks* callbacks);
using ZpArchiveFn = int(WINAPI*)(ZipRequest request);

// ---- unzip32.dll --------------------------------------------------------------------------------------------

// The options record: fifteen 32-bit switches followed by the archive's name and the target directory.
// Our unzip32.dll acts on listOnly, testOnly, neverOverwrite and caseInsensitive. It always extracts flat and
// replaces existing files without asking: promptToOverwrite and restoreDirectories are not consulted, and the
// replace and password callbacks are never called. The target directory is created when it is missing.
struct UnzipOptions {
    std::int32_t exdirOnly;  // extract into the target only, without the stored path
    std::int32_t listOnly;   // list instead of extracting
    std::int32_t promptToOverwrite;
    std::int32_t quiet;
    std::int32_t testOnly;
    std::int32_t freshen;
    std::int32_t update;
    std::int32_t overwriteAll;
    std::int32_t convertText;
    std::int32_t restoreDirectories;  // zero: every entry lands flat in the target directory
    std::int32_t neverOverwrite;
    std::int32_t verbose;
    std::int32_t displayComment;
    std::int32_t caseInsensitive;  // names given to include or exclude match without regard to case
    std::int32_t privileges;
    char* archiveName;
    char* targetDirectory;
};

using UnzipPrintFn = int(WINAPI*)(char* text, unsigned long length);
using UnzipSoundFn = void(WINAPI*)();
using UnzipReplaceFn = int(WINAPI*)(char* fileName);
using UnzipPasswordFn = int(WINAPI*)(char* buffer, int size, const char* prompt, const char* name);
using UnzipMessageFn = void(WINAPI*)(unsigned long uncompressedSize, unsigned long compressedSize, unsigned ratio,
                                     unsigned month, unsigned day, unsigned year, unsigned hour, unsigned minute,
                                     char c, const char* fileName, const char* method, unsigned long crc,
                                     char encrypted);
using UnzipServiceFn = int(WINAPI*)(const char* name, unsigned long size);  // returns non-zero to cancel

struct UnzipCallbacks {
    UnzipPrintFn print;
    UnzipSoundFn sound;
    UnzipReplaceFn replace;
    UnzipPasswordFn password;
    UnzipMessageFn message;
    UnzipServiceFn service;
    // Totals the library fills in.
    unsigned long totalSizeCompressed;
    unsigned long totalSize;
    int compressionFactor;
    unsigned long memberCount;
    unsigned commentLength;
};

// What Wiz_SingleEntryUnzip returns: the exit codes that Info-ZIP's unzip documents. Our unzip32.dll also sends
// the reason of every failure, as UTF-8 text, to the print callback.
enum UnzipResult : int {
    kUnzipOk = 0,
    kUnzipArchiveError = 2,  // a damaged archive: bad CRC, wrong sizes, inconsistent headers
    kUnzipRefused = 3,       // an entry name that would leave the target or open a device: nothing extracted
    kUnzipOutOfMemory = 4,
    kUnzipNoArchive = 9,  // the archive is missing or not a ZIP archive
    kUnzipBadParameters = 10,
    kUnzipNoMatch = 11,      // include names given, none matched
    kUnzipDiskFull = 50,     // also: the target volume has less free space than the archive needs
    kUnzipCancelled = 80,    // the service callback asked to stop
    kUnzipUnsupported = 81,  // encryption or a compression method other than stored and deflated
};

using WizSingleEntryUnzipFn = int(WINAPI*)(int includeCount, char** includeNames, int excludeCount, char** excludeNames,
                                           UnzipOptions* options, UnzipCallbacks* callbacks);

}  // namespace infozip
