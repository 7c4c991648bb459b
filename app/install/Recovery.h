// Recovery at the start of a click: a journal that an interrupted run left behind is dealt with before anything
// else happens. An install that was cut short is undone; one that had committed is finished.
#pragma once

#include <optional>
#include <string>

#include "Notice.h"
#include "install/FileOperations.h"

class UpdateLog;

// Runs once the suite's programs have been asked to close, since undoing puts the suite's files back. Returns what
// to tell the user before the install goes on (an undone install says so), or nothing: also when a committed
// install was finished and a different package waits to be installed. Refuses (ERefusal) when the click must end
// here: a committed install was finished and no package, or only the one it installed, is left; a link stands at
// Temp\ (with no package, the click says that there is none); or the journal could not be dealt with (the next
// click tries again). Each step is written to the log.
std::optional<Notice> RecoverInterruptedInstall(FileOperations& files, const std::string& programDirectory,
                                                UpdateLog& log);
