// A stand-in for Info-ZIP's own zip32.dll and unzip32.dll, copied under both names: the same entry points and
// records, without our text-encoding export. Like the originals, it reads every name in the ANSI code page, and it
// makes only the last level of the folder it extracts into: a target whose parent folder is missing fails with 2
// before anything is extracted, as Debian's unzip shows (tests/native/interop_test.cpp). It writes what it
// receives to the file named by ARCHIVE_DOUBLE_LOG (one line each, the bytes as they arrived) and, for the real
// work, hands the call on to our libraries, copied beside it as real-zip32.dll and real-unzip32.dll, with the
// names converted to the UTF-8 they take.
#include <cstdio>
#include <string>
#include <vector>
#include <windows.h>

#include "infozip_api.h"

namespace {

using namespace infozip;

std::string Recorded(const char* text)
{
    return text != nullptr ? text : "(null)";
}

void Record(const std::string& line)
{
    // Read from the process's environment rather than the C runtime's copy of it, so that a test that loads this
    // library into its own process can set it too.
    char log[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("ARCHIVE_DOUBLE_LOG", log, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    if (FILE* file = std::fopen(log, "ab")) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fputc('\n', file);
        std::fclose(file);
    }
}

std::string AnsiToUtf8(const char* ansi)
{
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), wideLength);
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

// The entry point of our library of that name, beside this one.
template <typename Function>
Function Real(const wchar_t* library, const char* entryPoint)
{
    wchar_t path[MAX_PATH];
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Record), &self);
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    std::wstring real(path, length);
    real = real.substr(0, real.find_last_of(L'\\') + 1) + library;
    const HMODULE module = LoadLibraryW(real.c_str());  // stays loaded until this library goes
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(module != nullptr ? GetProcAddress(module, entryPoint) : nullptr));
}

ZipOptions zipOptions{};

// UnZip's answer when it cannot make the folder it extracts into ("checkdir: cannot create extraction directory").
constexpr int kCannotCreateExtractionFolder = 2;

// Whether the folder above the target exists: UnZip makes the target itself, never the levels above it.
bool ParentExists(std::string target)
{
    while (!target.empty() && (target.back() == '\\' || target.back() == '/')) target.pop_back();
    const size_t separator = target.find_last_of("\\/");
    if (separator == std::string::npos) return true;  // relative to the current folder
    const std::string parent = target.substr(0, separator + 1);
    const DWORD attributes = GetFileAttributesA(parent.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

extern "C" {

BOOL WINAPI ZpGetOptions(ZipOptions* options)
{
    *options = zipOptions;
    return TRUE;
}

BOOL WINAPI ZpSetOptions(ZipOptions* options)
{
    zipOptions = *options;
    Record("ZpSetOptions junk=" + std::to_string(options->fields[kJunkDirectoriesField]));
    return Real<ZpSetOptionsFn>(L"real-zip32.dll", "ZpSetOptions")(options);
}

int WINAPI ZpInit(ZipCallbacks* callbacks)
{
    return Real<ZpInitFn>(L"real-zip32.dll", "ZpInit")(callbacks);
}

int WINAPI ZpArchive(ZipRequest request)
{
    Record("ZpArchive " + Recorded(request.archiveName));
    std::vector<std::string> names;
    for (int i = 0; i < request.count; ++i) {
        Record("file " + Recorded(request.fileNames[i]));
        names.push_back(AnsiToUtf8(request.fileNames[i]));
    }
    std::vector<char*> pointers;
    for (std::string& name : names) pointers.push_back(name.data());
    std::string archive = AnsiToUtf8(request.archiveName);
    const ZipRequest forwarded{request.count, archive.data(), pointers.data()};
    return Real<ZpArchiveFn>(L"real-zip32.dll", "ZpArchive")(forwarded);
}

int WINAPI Wiz_SingleEntryUnzip(int includeCount, char** includeNames, int excludeCount, char** excludeNames,
                                UnzipOptions* options, UnzipCallbacks* callbacks)
{
    std::string switches;
    for (const std::int32_t* field = &options->exdirOnly; field <= &options->privileges; ++field) {
        switches += std::to_string(*field) + ",";
    }
    Record("Wiz_SingleEntryUnzip " + std::to_string(includeCount) + "," + std::to_string(excludeCount) + " " +
           switches);
    Record("archive " + Recorded(options->archiveName));
    Record("target " + Recorded(options->targetDirectory));
    if (options->targetDirectory != nullptr && !ParentExists(options->targetDirectory)) {
        Record("checkdir: cannot create extraction directory");
        return kCannotCreateExtractionFolder;
    }
    std::string archive = AnsiToUtf8(options->archiveName);
    std::string target = AnsiToUtf8(options->targetDirectory);
    UnzipOptions forwarded = *options;
    forwarded.archiveName = archive.data();
    forwarded.targetDirectory = target.data();
    return Real<WizSingleEntryUnzipFn>(L"real-unzip32.dll", "Wiz_SingleEntryUnzip")(
        includeCount, includeNames, excludeCount, excludeNames, &forwarded, callbacks);
}

}  // extern "C"
