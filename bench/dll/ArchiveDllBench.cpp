// One archive operation through zip32.dll or unzip32.dll, done by the program's own wrappers exactly as
// Update.exe does it (the libraries are loaded from beside this executable and unloaded afterwards), so that
// bench/archive.sh can time one process per operation, its start included.
//   ArchiveDllBench pack ARCHIVE FILE...        entries under their bare names
//   ArchiveDllBench extract ARCHIVE DIRECTORY   every entry flat into DIRECTORY
// Like the program, it learns nothing of the libraries' own failures: the script checks what was written.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Paths.h"
#include "Text.h"
#include "ZipExtractor.h"
#include "ZipPacker.h"

namespace {

// The program hands the libraries full paths.
std::string FullPath(const wchar_t* argument)
{
    return Narrow(std::filesystem::absolute(argument).wstring());
}

// A missing library writes nothing: said on the error stream, where the program would show its message.
int Outcome(const std::optional<Notice>& missingLibrary)
{
    if (!missingLibrary) return 0;
    std::fprintf(stderr, "%s\n", missingLibrary->text.c_str());
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring operation = argc > 1 ? argv[1] : L"";
    if (operation == L"pack" && argc >= 4) {
        std::vector<std::string> files;
        for (int i = 3; i < argc; ++i) files.push_back(FullPath(argv[i]));
        return Outcome(TZipPacker().ZipFiles(FullPath(argv[2]), files, ProgramDirectory()));
    }
    if (operation == L"extract" && argc == 4) {
        return Outcome(TZipExtractor().UnZipArchive(FullPath(argv[2]), FullPath(argv[3]), ProgramDirectory()));
    }
    std::fputs("usage: ArchiveDllBench pack ARCHIVE FILE... | extract ARCHIVE DIRECTORY\n", stderr);
    return 2;
}
