// Extracts a whole ZIP archive, flat, into a directory through unzip32.dll.
#pragma once

#include <optional>
#include <string>

#include "Errors.h"
#include "Notice.h"

// The library could not extract the whole archive. Result: what Wiz_SingleEntryUnzip returned; entry: the one it
// was writing when it stopped, if it said; reason: its own words (UTF-8), empty when it gave none.
class EUnzipError : public Exception {
public:
    EUnzipError(int result, std::string entry, std::string reason);
    int Result() const { return result_; }
    const std::string& Entry() const { return entry_; }
    const std::string& Reason() const { return reason_; }

private:
    int result_;
    std::string entry_;
    std::string reason_;
};

class TZipExtractor {
public:
    // Every entry lands in targetDir (created when missing) under its bare name, replacing any file of that
    // name, through programDirectory's unzip32.dll. A missing library extracts nothing and returns its notice, for
    // the caller to show; a library without the entry point extracts nothing and says nothing. Any failure of the
    // library itself raises EUnzipError, whatever it left on disk.
    [[nodiscard]] std::optional<Notice> UnZipArchive(const std::string& archiveName, const std::string& targetDir,
                                                     const std::string& programDirectory) const;
};
