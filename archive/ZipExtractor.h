// Extracts a whole ZIP archive, flat, into a directory through unzip32.dll.
#pragma once

#include <string>
#include <windows.h>

class TZipExtractor {
public:
    // Messages about a missing library are owned by this window (the application's hidden window).
    explicit TZipExtractor(HWND messageOwner) : messageOwner_(messageOwner) {}

    // Every entry lands in targetDir (created when missing) under its bare name, replacing any file of that
    // name. The library's own failures are not reported: the caller looks at what is on disk afterwards.
    void UnZipArchive(const std::string& archiveName, const std::string& targetDir) const;

private:
    HWND messageOwner_;
};
