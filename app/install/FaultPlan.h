// Test build only (UpdateWithFaults.exe): where to stop or fail an install, taken from the program's command line.
// The release Update.exe is built without this file, so nothing a user can set reaches it.
//
//   --kill-at=K       end the process (ExitProcess) at the K-th file operation of the install, before it is done;
//                     a durable write is cut in the middle, the way a power loss tears it
//   --fail-at=K[,M]   make the K-th (and M-th) operation fail with ERROR_IO_DEVICE instead
//   --trace=PATH      append one line per operation ("K<TAB>operation<TAB>path[<TAB>path]") to PATH, and one per
//                     text the window's status line is given ("status<TAB>text", not counted: the operations keep
//                     their numbers), so that a test reads every status however briefly it showed
//
// Operations are counted from 1 from the moment each click starts its file work.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include <windows.h>

class FaultPlan {
public:
    enum class Action { Proceed, Fail, Kill };

    static constexpr UINT kKilledExitCode = 77;
    static constexpr DWORD kInjectedError = ERROR_IO_DEVICE;

    static FaultPlan FromCommandLine();

    // Counts one operation, writes it to the trace, and says what to do with it.
    Action Next(std::string_view operation, const std::string& path, const std::string& other);

    // Writes a new text of the status line to the trace named on the command line, if any.
    static void TraceStatus(const std::string& text);

private:
    void Trace(const std::string& line) const;

    unsigned counter_ = 0;
    unsigned killAt_ = 0;
    std::set<unsigned> failAt_;
    std::wstring trace_;
};
