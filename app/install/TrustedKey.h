// Whether the program directory holds the author's public key UpdateKey.pub, and with it whether every package
// must prove who built it. The one place that decides it: the install's signature check and the names it keeps
// for itself ask the same question.
#pragma once

#include <string>

// The key's path in the program directory (ending in '\').
std::string TrustedKeyPath(const std::string& programDirectory);

// False only when the system says that there is no such file (or no such folder on the way). Anything else counts
// as a key that is there: a folder of that name, or a file the system will not let us look at, is a key that the
// check then finds unusable, so that it refuses every package rather than letting every package through.
bool TrustedKeyPresent(const std::string& programDirectory);
