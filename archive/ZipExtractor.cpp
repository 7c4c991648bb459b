#include "ZipExtractor.h"

#include "ArchiveLibrary.h"
#include "Dialogs.h"
#include "infozip_api.h"

namespace {

using namespace infozip;

int WINAPI DiscardText(char*, unsigned long length) { return static_cast<int>(length); }
int WINAPI ReplaceWithoutAsking(char*) { return 1; }
int WINAPI NoPassword(char*, int, const char*, const char*) { return 1; }
void WINAPI IgnoreMessage(unsigned long, unsigned long, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned,
                          char, const char*, const char*, unsigned long, char)
{
}
int WINAPI GoOn(const char*, unsigned long) { return 0; }

}  // namespace

void TZipExtractor::UnZipArchive(const std::string& archiveName, const std::string& targetDir) const
{
    ArchiveLibrary library("unzip32.dll");
    if (!library.Loaded()) {
        ShowNotice(messageOwner_, "找不到unzip32.dll", NoticeIcon::Information);
        return;
    }
    auto unzip = library.Resolve<WizSingleEntryUnzipFn>("Wiz_SingleEntryUnzip");
    if (!unzip) return;

    UnzipCallbacks callbacks{};
    callbacks.print = DiscardText;
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
    unzip(0, nullptr, 0, nullptr, &options, &callbacks);
}
