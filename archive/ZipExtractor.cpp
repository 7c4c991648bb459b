#include "ZipExtractor.h"

#include "ArchiveLibrary.h"
#include "LibraryCallbacks.h"
#include "infozip_api.h"

namespace {

using namespace infozip;
using namespace library_callbacks;

// The library's callbacks carry no context: its print callback finds the text of the extraction running on its
// thread here, set for the length of that one call and never otherwise.
thread_local std::string* printedByLibrary = nullptr;

class PrintedText {
public:
    PrintedText() { printedByLibrary = &text_; }
    ~PrintedText() { printedByLibrary = nullptr; }
    PrintedText(const PrintedText&) = delete;
    PrintedText& operator=(const PrintedText&) = delete;
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

int WINAPI CollectText(char* text, unsigned long length)
{
    try {
        if (printedByLibrary != nullptr && text != nullptr) printedByLibrary->append(text, length);
    } catch (...) {  // no exception may return into the library; the text is only an explanation
    }
    return static_cast<int>(length);
}

std::string WithoutPrefix(const std::string& line, std::string_view prefix)
{
    return line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : std::string();
}

// Our unzip32.dll announces each entry with an "inflating:" line and ends a failure with an "unzip error:" line;
// another library's last words stand as its reason.
EUnzipError FailureFrom(int result, const std::string& printed)
{
    std::string entry;
    std::string reason;
    for (size_t start = 0; start < printed.size();) {
        size_t end = printed.find('\n', start);
        if (end == std::string::npos) end = printed.size();
        std::string line = printed.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        const size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        line.erase(0, first);
        if (std::string name = WithoutPrefix(line, "inflating: "); !name.empty()) {
            entry = name;
        } else if (std::string said = WithoutPrefix(line, "unzip error: "); !said.empty()) {
            reason = said;
        } else {
            reason = line;
        }
    }
    return EUnzipError(result, entry, reason);
}

}  // namespace

EUnzipError::EUnzipError(int result, std::string entry, std::string reason)
    : Exception("unzip32.dll returned " + std::to_string(result) + (entry.empty() ? "" : " at \"" + entry + "\"") +
                (reason.empty() ? "" : ": " + reason)),
      result_(result),
      entry_(std::move(entry)),
      reason_(std::move(reason))
{
}

std::optional<Notice> TZipExtractor::UnZipArchive(const std::string& archiveName, const std::string& targetDir,
                                                  const std::string& programDirectory) const
{
    ArchiveLibrary library(programDirectory, "unzip32.dll");
    // Owned by the application's hidden window, as the archive libraries' messages have always been.
    if (!library.Loaded()) return Notice{"找不到unzip32.dll", NoticeIcon::Information, NoticeOwner::Application};
    auto unzip = library.Resolve<WizSingleEntryUnzipFn>("Wiz_SingleEntryUnzip");
    if (!unzip) return std::nullopt;

    UnzipCallbacks callbacks{};
    callbacks.print = CollectText;
    callbacks.sound = nullptr;
    callbacks.replace = ReplaceWithoutAsking;
    callbacks.password = NoPassword;
    callbacks.message = IgnoreMessage;
    callbacks.service = GoOn;

    std::string archive = library.EncodeOrThrow(archiveName);
    std::string target = library.EncodeOrThrow(targetDir);
    UnzipOptions options{};
    options.promptToOverwrite = 1;
    options.restoreDirectories = 0;  // every entry flat into the target
    options.caseInsensitive = 1;
    options.privileges = 1;
    options.archiveName = archive.data();
    options.targetDirectory = target.data();

    const PrintedText printed;
    const int result = unzip(0, nullptr, 0, nullptr, &options, &callbacks);
    if (result != kUnzipOk) throw FailureFrom(result, printed.Text());
    return std::nullopt;
}
