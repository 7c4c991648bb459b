// The installed version in the suite's local database, under the key "Version": written when an install is done,
// and again when a committed install is finished at the next click.
#pragma once

#include <string>

// Best effort, as the suite's own routine is: a record that cannot be written changes nothing the user sees.
void RecordInstalledVersion(const std::string& programDirectory, const std::string& version);
