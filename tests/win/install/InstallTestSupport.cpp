#include "InstallTestSupport.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "ConnectionString.h"
#include "ControlIds.h"
#include "DbTestSupport.h"
#include "EcdsaKeys.h"
#include "KeyFiles.h"
#include "OdbcStatement.h"
#include "Sha256.h"
#include "UpdateDescriptor.h"
#include "zipcore/byte_stream.hpp"
#include "zipcore/zip_reader.hpp"
#include "zipcore/zip_writer.hpp"

namespace install_test {

namespace fs = std::filesystem;

void WritePackage(const TempDir& directory, const std::string& version, const std::vector<Payload>& files)
{
    std::vector<PackageFile> entries;
    std::map<std::string, std::string> contents;
    for (const Payload& file : files) {
        entries.push_back({file.name, file.path});
        contents[file.name] = file.bytes;
    }
    WritePackageWithDescriptor(directory, ComposeDescriptor(version, entries), contents);
}

void WritePackageWithDescriptor(const TempDir& directory, const std::string& descriptor,
                                const std::map<std::string, std::string>& entries)
{
    auto all = entries;
    all["Update.xml"] = descriptor;
    WriteArchive(directory, all);
}

void WriteArchive(const TempDir& directory, const std::map<std::string, std::string>& entries)
{
    zipcore::ZipWriter writer(Narrow(directory / L"Quellis.sky"));
    for (const auto& [name, bytes] : entries) {
        const zipcore::MemorySource source(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        writer.addEntry(name, source, zipcore::DosDateTime{});
    }
    writer.finish();
}

AuthorKey::AuthorKey()
{
    signing::KeyPairBlobs keys = signing::GenerateKeyPair();
    privateBlob_ = std::move(keys.privateBlob);
    publicBlob_ = std::move(keys.publicBlob);
}

std::string AuthorKey::PublicKeyFile() const
{
    return signing::ComposeKeyFile(signing::KeyKind::Public, publicBlob_);
}

void AuthorKey::WriteSignedPackage(const TempDir& directory, const std::string& version,
                                   const std::vector<Payload>& files,
                                   const std::function<void(std::map<std::string, std::string>&)>& tamper) const
{
    const auto bytesOf = [](const std::string& text) {
        return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    };
    std::vector<PackageFile> entries;
    std::map<std::string, std::string> contents;
    for (const Payload& file : files) {
        entries.push_back({file.name, file.path, signing::Hex(signing::Sha256Of(bytesOf(file.bytes)))});
        contents[file.name] = file.bytes;
    }
    const std::string descriptor = ComposeDescriptor(version, entries);
    const signing::Signature signature = signing::SignDigest(privateBlob_, signing::Sha256Of(bytesOf(descriptor)));
    contents["Update.xml"] = descriptor;
    contents["Update.sig"] = std::string(signature.begin(), signature.end());
    if (tamper) tamper(contents);
    WriteArchive(directory, contents);
}

void CorruptCrc(const TempDir& directory, const std::string& entry)
{
    std::uint32_t crc = 0;
    {
        const zipcore::ZipReader reader = zipcore::ZipReader::open(Narrow(directory / L"Quellis.sky"));
        for (const zipcore::Entry& item : reader.entries()) {
            if (item.name == entry) crc = item.crc32;
        }
    }
    std::string bytes = directory.ReadFile(L"Quellis.sky");
    const std::string from(reinterpret_cast<const char*>(&crc), 4);
    int replaced = 0;
    for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + 4), ++replaced) {
        bytes[at + 2] ^= 0x01;
    }
    if (replaced != 2) throw std::runtime_error("the CRC of " + entry + " is not where it belongs");
    directory.WriteFile(L"Quellis.sky", bytes);
}

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

namespace {

// The host's name for a Windows path, through Wine's own export.
std::string UnixPath(const std::wstring& path)
{
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) throw std::runtime_error("not under Wine");
    char* unix = toUnix(path.c_str());
    if (unix == nullptr) throw std::runtime_error("no host path for " + Narrow(path));
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Starts a host program under Wine; its exit code is lost, so the caller waits for its effect.
void RunHostCommand(const std::string& commandLine)
{
    std::wstring command = Widen(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!driver::StartProcess(nullptr, command, FALSE, 0, nullptr, startup, info)) {
        throw std::runtime_error("cannot start " + commandLine);
    }
    if (info.hProcess != nullptr) CloseHandle(info.hProcess);
    if (info.hThread != nullptr) CloseHandle(info.hThread);
}

std::wstring WithoutSeparator(std::wstring path)
{
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

}  // namespace

HostLink::HostLink(std::wstring link, const std::wstring& target) : link_(WithoutSeparator(std::move(link)))
{
    RunHostCommand("/bin/ln -s \"" + UnixPath(WithoutSeparator(target)) + "\" \"" + UnixPath(link_) + "\"");
    made_ = WaitUntil([this] { return GetFileAttributesW(link_.c_str()) != INVALID_FILE_ATTRIBUTES; }, 10s);
}

HostLink::~HostLink()
{
    if (!made_) return;
    try {
        RunHostCommand("/bin/rm -f \"" + UnixPath(link_) + "\"");
    } catch (const std::exception&) {
        return;
    }
    WaitUntil([this] { return GetFileAttributesW(link_.c_str()) == INVALID_FILE_ATTRIBUTES; }, 10s);
}

OtherVolumeFolder::OtherVolumeFolder(const std::wstring& thisVolume)
{
    static unsigned counter = 0;
    path_ = L"Z:\\dev\\shm\\tavilo-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount()) +
            L"-" + std::to_wstring(++counter) + L"\\";
    if (!CreateDirectoryW(path_.c_str(), nullptr)) throw std::runtime_error("cannot make a folder in /dev/shm");
    const std::wstring probe = thisVolume + L"volume-probe.txt";
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    const BOOL moved = MoveFileExW(probe.c_str(), (path_ + L"volume-probe.txt").c_str(), 0);
    const DWORD error = GetLastError();
    DeleteFileW(probe.c_str());
    if (moved || error != ERROR_NOT_SAME_DEVICE) {
        RemoveTree(WithoutSeparator(path_));
        throw std::runtime_error("/dev/shm is not another volume on this host (a plain move there " +
                                 (moved ? std::string("succeeded") : "failed with error " + std::to_string(error)) +
                                 "): the cross-volume tests would cross nothing");
    }
}

OtherVolumeFolder::~OtherVolumeFolder()
{
    RemoveTree(WithoutSeparator(path_));
}

namespace {

// The test build is the tests' tool, not part of the suite; Update.exe and the archive libraries are, and a package
// may replace them.
bool IsTestBuild(const std::wstring& name)
{
    return CompareStringOrdinal(name.c_str(), -1, L"UpdateWithFaults.exe", -1, TRUE) == CSTR_EQUAL;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Temp\ itself and what the updater keeps there for itself; the rest of Temp\ is the suite's.
bool IsUpdaterOwnItem(const std::wstring& relative)
{
    if (SameName(relative, L"Temp") || SameName(relative, L"Temp\\update.xml") ||
        SameName(relative, L"Temp\\Update.lock") || SameName(relative, L"Temp\\Update.log") ||
        SameName(relative, L"Temp\\Update.log.1"))
        return true;
    for (const std::wstring folder : {L"Temp\\Package", L"Temp\\InstallJournal"}) {
        if (SameName(relative.substr(0, relative.find(L'\\', folder.size())), folder)) return true;
    }
    return false;
}

std::wstring LongForm(const std::wstring& path)
{
    return L"\\\\?\\" + path;
}

std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(LongForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot read " + Narrow(path));
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

// Calls `visit` for every file and directory under `directory` (with its trailing backslash), depth first.
// Through the \\?\ form, since the paths of a test may be longer than std::filesystem can walk.
template <typename Visit>
void Walk(const std::wstring& directory, const Visit& visit)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(LongForm(directory + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::pair<std::wstring, bool>> items;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            items.emplace_back(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const auto& [name, isDirectory] : items) {
        visit(directory + name, isDirectory);
        if (isDirectory) Walk(directory + name + L"\\", visit);
    }
}

}  // namespace

Picture TakePicture(const TempDir& directory)
{
    Picture picture;
    const std::wstring& root = directory.Path();
    Walk(root, [&](const std::wstring& path, bool isDirectory) {
        const std::wstring relative = path.substr(root.size());
        const std::wstring top = relative.substr(0, relative.find(L'\\'));
        if (IsTestBuild(top) || IsUpdaterOwnItem(relative)) return;
        if (isDirectory) {
            picture[Narrow(relative) + "\\"] = "";
        } else {
            picture[Narrow(relative)] = ReadBytes(path);
        }
    });
    return picture;
}

void RemoveTree(const std::wstring& path)
{
    std::vector<std::pair<std::wstring, bool>> items;
    Walk(path + L"\\", [&](const std::wstring& item, bool isDirectory) { items.emplace_back(item, isDirectory); });
    for (auto item = items.rbegin(); item != items.rend(); ++item) {
        if (item->second) {
            RemoveDirectoryW(LongForm(item->first).c_str());
        } else {
            SetFileAttributesW(LongForm(item->first).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(LongForm(item->first).c_str());
        }
    }
    RemoveDirectoryW(LongForm(path).c_str());
}

std::vector<std::string> JournalLeftovers(const TempDir& directory)
{
    std::vector<std::string> left;
    std::error_code error;
    for (const auto& item : fs::directory_iterator(fs::path(directory / L"Temp\\InstallJournal"), error)) {
        left.push_back(Narrow(item.path().filename().wstring()));
    }
    return left;
}

std::string Difference(const Picture& expected, const Picture& actual)
{
    std::string difference;
    for (const auto& [path, bytes] : expected) {
        const auto found = actual.find(path);
        if (found == actual.end()) {
            difference += "  missing: " + path + "\n";
        } else if (found->second != bytes) {
            difference += "  changed: " + path + " (" + std::to_string(found->second.size()) + " bytes, expected " +
                          std::to_string(bytes.size()) + ")\n";
        }
    }
    for (const auto& [path, bytes] : actual) {
        if (expected.count(path) == 0) difference += "  extra: " + path + "\n";
    }
    return difference;
}

// ---- the updater ----------------------------------------------------------------------------------------------

namespace {

// The box's text and icon are filled in while it is being shown: read it again until both are there.
std::optional<MessageBoxInfo> Settled(DWORD processId)
{
    std::optional<MessageBoxInfo> box;
    WaitUntil(
        [&] {
            box = FindMessageBox(processId);
            return box && !box->text.empty() && box->icon != BoxIcon::None;
        },
        2s);
    return box;
}

}  // namespace

Updater::Updater(const TempDir& directory, const std::wstring& executable, const std::wstring& arguments)
    : process_(directory / executable, arguments, directory.Path())
{
    WaitUntil([this] { return (form_ = FindProcessWindow(process_.Id(), nullptr, L"Tavilo升级程序")) != nullptr; },
              20s);
    if (form_ == nullptr) throw std::runtime_error("the updater showed no window");
    WaitForInputIdle(process_.Handle(), 5000);
}

Updater::~Updater()
{
    if (!process_.Wait(0ms) && !Close()) process_.Kill();
}

bool Updater::Close()
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const auto box = FindMessageBox(process_.Id());
        if (!box) break;
        box->Dismiss();
    }
    PostMessageW(form_, WM_CLOSE, 0, 0);
    return process_.Wait(10s);
}

std::wstring Updater::Status() const
{
    return WindowText(GetDlgItem(form_, IDC_LBLMESSAGE));
}

void Updater::ClickStart() const
{
    PostMessageW(GetDlgItem(form_, IDC_BTSTART), BM_CLICK, 0, 0);
}

std::optional<MessageBoxInfo> Updater::NextBox(std::chrono::milliseconds timeout)
{
    std::optional<MessageBoxInfo> box;
    WaitUntil([&] { return (box = FindMessageBox(process_.Id())).has_value() || process_.Wait(0ms); }, timeout);
    if (!box) return std::nullopt;
    return Settled(process_.Id());
}

std::optional<MessageBoxInfo> Updater::NextBoxWatchingStatus(std::vector<std::wstring>& statuses,
                                                             std::chrono::milliseconds timeout)
{
    std::optional<MessageBoxInfo> box;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::wstring status = Status();
        if (statuses.empty() || statuses.back() != status) statuses.push_back(status);
        if ((box = FindMessageBox(process_.Id())) || process_.Wait(0ms)) break;
        Sleep(5);
    }
    if (!box) return std::nullopt;
    box = Settled(process_.Id());
    if (box) {
        const std::wstring status = Status();
        if (statuses.back() != status) statuses.push_back(status);
    }
    return box;
}

std::string Describe(const MessageBoxInfo& box)
{
    static const char* const icons[] = {"none", "information", "error", "warning", "question"};
    std::string description = "[";
    description += Narrow(box.caption);
    description += ", ";
    description += icons[static_cast<int>(box.icon)];
    description += "] ";
    description += Narrow(box.text);
    return description;
}

namespace {

std::vector<std::string> TraceLines(const std::wstring& path)
{
    std::ifstream in(fs::path(path), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

constexpr std::string_view kStatusLine = "status\t";

}  // namespace

std::vector<std::string> ReadTrace(const std::wstring& path)
{
    std::vector<std::string> operations;
    for (std::string& line : TraceLines(path)) {
        if (line.rfind(kStatusLine, 0) != 0) operations.push_back(std::move(line));
    }
    return operations;
}

std::vector<std::wstring> ReadStatusTrace(const std::wstring& path)
{
    std::vector<std::wstring> statuses;
    for (const std::string& line : TraceLines(path)) {
        if (line.rfind(kStatusLine, 0) == 0) statuses.push_back(Widen(line.substr(kStatusLine.size())));
    }
    return statuses;
}

LocalVersionRecord::LocalVersionRecord(const std::string& version)
{
    const std::string database = HostPath(fs::path(folder_ / L"Quellis.SDB"));
    ConnectionStringBuilder builder;
    builder.Driver("SQLite3").Add("Database", database).Add("Timeout", "500");
    {
        odbc::Connection creator;
        creator.Open(builder.Text());
        Execute(creator, "create table SysParams(ParamKey text, ParamValue text)");
        odbc::Statement(creator, "insert into SysParams(ParamKey, ParamValue) values('Version', ?)").Execute({version});
    }
    // As the Access driver does, the program's connection never creates a missing database.
    connectionString_ = builder.Add("NoCreat", "1").Text();
    SetEnvironmentVariableW(L"TAVILO_LOCAL_DATABASE", Widen(connectionString_).c_str());  // inherited
}

LocalVersionRecord::~LocalVersionRecord()
{
    SetEnvironmentVariableW(L"TAVILO_LOCAL_DATABASE", nullptr);
}

std::vector<std::string> LocalVersionRecord::Versions() const
{
    odbc::Connection connection;
    connection.Open(connectionString_);
    std::vector<std::string> versions;
    for (const Row& row :
         QueryRows(connection, "select ParamValue from SysParams where ParamKey='Version' order by rowid")) {
        versions.push_back(row.at(0).value_or("(null)"));
    }
    return versions;
}

}  // namespace install_test
