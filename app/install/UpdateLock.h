// One install or build at a time in a program directory: two copies of the updater would empty and fill the same
// staging folder and write the same journal. The lock is a file in Temp\ held open without sharing for the whole
// run; the system closes it, and deletes it, however the process ends.
#pragma once

#include <string>

#include "Handles.h"

class UpdateLock {
public:
    // Takes the lock of this program directory, or raises ERefusal: another copy holds it, or the lock file cannot
    // be made. A link at Temp\ is never written through: no lock is taken then, and the run goes on to refuse the
    // link where it meets it, before anything is changed.
    static UpdateLock Take(const std::string& programDirectory);

private:
    explicit UpdateLock(UniqueHandle file) : file_(std::move(file)) {}

    UniqueHandle file_;
};
