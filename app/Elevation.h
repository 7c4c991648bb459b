// A suite under Program Files: a standard account, and an administrator's unelevated token, cannot write there,
// and Update.exe asks Windows for no rights of its own (its manifest says asInvoker). Before a run's first change
// the updater finds out whether it can write where it must; when it cannot for lack of rights, it starts itself
// again elevated, with the one command-line switch the program has, and that copy does the run.
#pragma once

#include <optional>
#include <string>
#include <vector>
#include <windows.h>

// What the elevated copy starts as soon as its window shows.
enum class ElevatedRun { Install, Build };

// The switch, "--elevated=install,PID" or "--elevated=build,PID": the run to start, and the process that started
// this one, which ends right after and is waited for.
struct RestartRequest {
    ElevatedRun run;
    DWORD startedBy;
};

// Whether the system refuses this process a new file in one of these folders. Only "access denied" counts; any
// other failure is left for the run to meet and report as it always has.
bool DeniesNewFiles(const std::vector<std::string>& folders);

// The switch on this process's command line, if it is there; every other argument is ignored, as always.
std::optional<RestartRequest> RestartRequestFromCommandLine();

class TElevation {
public:
    // restarted: this instance was itself started elevated by the switch, and never starts another.
    explicit TElevation(bool restarted) : restarted_(restarted) {}

    // Called before the run's first change, with the folders it writes in (the missing ones are left to the
    // folder that would hold them). When one of them denies this process a new file (ERROR_ACCESS_DENIED) and the
    // process is not elevated, starts Update.exe again elevated to do `run`, and returns true: this instance is to
    // close without changing anything. The user declining the prompt refuses (ERefusal) with our message. Returns
    // false to go on here: the folders can be written, or elevating cannot help (already elevated, or restarted),
    // and the run meets the denial as it always did.
    bool HandOverIfDenied(ElevatedRun run, const std::vector<std::string>& folders) const;

private:
    bool restarted_;
};
