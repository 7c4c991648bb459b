// The small routines both flows use.
#pragma once

#include <string>

// A pause of about 100 ms that keeps the window painted and responsive: ten times, sleep 10 ms and then
// dispatch every waiting window message.
void DelayWithMessages();

// Creates the directories of a path one backslash-terminated component at a time, skipping those that exist.
// Whatever follows the last backslash is not a directory and is ignored. Raises EInOutError with the system's
// error number when a component cannot be created; the components made before it stay.
void CreateDirectoryPath(std::string path);
