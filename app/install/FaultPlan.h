// Test build only (UpdateWithFaults.exe): where to stop or fail an install, taken from the program's command line.
// The release Update.exe is built without this file, so nothing a user can set reaches it.
//
//   --kill-at=K       end the process (ExitProcess) at the K-th file operation of the install, before it is done;
//                     a durable write is cut in the middle, the way a power loss tears it
//   --fail-at=K[,M]   make the K-th (and M-th) operation fail with ERROR_IO_DEVICE instead
//   --fail-after-at=K make the K-th operation fail with ERROR_IO_DEVICE once it is done: a durable write's bytes are
//                     then written and flushed (a flush that fails after the disk took the bytes); any other
//                     operation fails before it is done, as with --fail-at
//   --alter-at=K      change the file at the K-th operation's first path (append bytes to it) just before the
//                     operation: a file swapped by someone else between the install's check and its move
//   --pause-at=K,PATH hold the K-th operation, before it is done, until a file PATH exists (at most a minute): a
//                     run that a test keeps going while it starts another copy
//   --refuse-attributes=NAME   the question whether a path ending in NAME exists is answered "access denied"
//   --deny-writes     the run is refused every new file where it works, as a standard account is under Program
//                     Files: the probe before its first change, and the lock in Temp\ (access denied)
//   --token-elevated=0|1   the process is (1) or is not (0) elevated, whatever its token says
//   --decline-elevation    the user answers the consent prompt with no (ERROR_CANCELLED)
//   --elevation-fails=N    the elevated copy cannot be started, with system error N; without either the restart
//                     is performed (under Wine "runas" simply starts the program) and traced: "restart<TAB>new
//                     process id<TAB>switch"
//   --alter-before-packing=NAME   F2 changes the file to pack whose path ends in NAME after the build has taken its
//                     digest and before the library packs it
//   --trace=PATH      append one line per operation ("K<TAB>operation<TAB>path[<TAB>path]") to PATH, and one per
//                     text the window's status line is given ("status<TAB>text", not counted: the operations keep
//                     their numbers), so that a test reads every status however briefly it showed
//
// Operations are counted from 1 from the moment each click starts its file work. --refuse-attributes, the
// elevation switches and --alter-before-packing are questions asked outside the counted operations.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

class FaultPlan {
public:
    enum class Action { Proceed, Fail, FailAfter, Kill };

    static constexpr UINT kKilledExitCode = 77;
    static constexpr DWORD kInjectedError = ERROR_IO_DEVICE;

    static FaultPlan FromCommandLine();

    // Counts one operation, writes it to the trace, and says what to do with it.
    Action Next(std::string_view operation, const std::string& path, const std::string& other);

    // Writes a new text of the status line to the trace named on the command line, if any.
    static void TraceStatus(const std::string& text);

    // Whether the question about this path is to be refused (--refuse-attributes).
    static bool RefusesAttributesOf(const std::string& path);
    // The elevation switches: whether new files are refused, the elevation to report instead of the token's, the
    // error the restart meets instead of the prompt (ERROR_CANCELLED: declined); and the restart performed.
    static bool DeniesWrites();
    static std::optional<bool> FakedElevation();
    static std::optional<DWORD> ElevationError();
    static void TraceRestart(DWORD processId, const std::wstring& parameters);
    // Changes the one of these files that --alter-before-packing names, if any.
    static void AlterBeforePacking(const std::vector<std::string>& paths);
    // Appends bytes to the file, as someone else's write would.
    static void Alter(const std::string& path);

private:
    void Trace(const std::string& line) const;

    unsigned counter_ = 0;
    unsigned killAt_ = 0;
    std::set<unsigned> failAt_;
    unsigned failAfterAt_ = 0;
    unsigned alterAt_ = 0;
    unsigned pauseAt_ = 0;
    std::wstring resumeWhen_;
    std::string refuseAttributes_;
    std::string alterBeforePacking_;
    bool denyWrites_ = false;
    std::optional<bool> tokenElevated_;
    std::optional<DWORD> elevationError_;
    std::wstring trace_;
};
