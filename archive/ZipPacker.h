// Writes a ZIP archive from a list of files through zip32.dll. The entries carry the bare file names.
#pragma once

#include <string>
#include <vector>
#include <windows.h>

class TZipPacker {
public:
    // Messages about a missing library are owned by this window (the application's hidden window).
    explicit TZipPacker(HWND messageOwner) : messageOwner_(messageOwner) {}

    // archiveName: full path of the archive to write; files: full paths, in order. The library's own failures
    // are not reported: the caller looks at what is on disk afterwards.
    void ZipFiles(const std::string& archiveName, const std::vector<std::string>& files) const;

private:
    HWND messageOwner_;
};
