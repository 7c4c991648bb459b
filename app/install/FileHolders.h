// Which programs hold a file open, as the Restart Manager sees them, so that a message can name them. Only asks;
// never closes or ends anything.
#pragma once

#include <string>
#include <vector>

// "name (PID n)" for each process holding the file. Empty where the Restart Manager is missing (before Windows
// Vista), fails, or names nobody (as under Wine).
std::vector<std::string> ProgramsHoldingFile(const std::string& path);

// Whether a system error number means that another program has the file open.
bool MeansFileInUse(unsigned long code);
