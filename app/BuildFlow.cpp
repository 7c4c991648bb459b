#include "BuildFlow.h"

#include <optional>
#include <set>

#include "ArchiveLibrary.h"
#include "Dialogs.h"
#include "Errors.h"
#include "Paths.h"
#include "ProgramLayout.h"
#include "PackageSigner.h"
#include "SignatureTexts.h"
#include "Text.h"
#include "UpdateServer.h"
#include "Sha256.h"
#include "FileBytes.h"
#include "UpdateDescriptor.h"
#include "XmlDocument.h"
#include "ZipPacker.h"
#include "install/InstallLayout.h"
#include "install/SafeNames.h"
#include "zipcore/name_match.hpp"
#include "zipcore/zip_reader.hpp"

namespace {

constexpr WORD kBuildKey = VK_F2;
constexpr std::string_view kDescriptorName = layout::kBuiltDescriptor;

// One line of the author's file list: where the file is now and what the package says of it.
struct SourceFile {
    std::string source;  // as written in the list, relative to FilesToUpdate\ (named in messages)
    std::string fullPath;
    PackageFile entry;
};

// The form under which the file system looks a name up: equal keys, one file.
std::string NameKey(std::string_view text)
{
    return zipcore::fileNameKey(text);
}

// A package that misses a file, carries two files under one name, or a file the install keeps a name or place for,
// would reach every user: the list is checked before anything is written. Returns the message for the first
// problem, or nothing.
std::optional<std::string> ProblemWith(const std::vector<SourceFile>& files)
{
    std::set<std::string> names;
    for (const SourceFile& file : files) {
        if (!FileExists(file.fullPath)) return "找不到要打包的文件：" + file.source;
        const std::string name = NameKey(file.entry.name);
        if (name == NameKey(kDescriptorName)) return "文件名与升级说明文件 Update.xml 重复，请改名：" + file.source;
        const std::string directory = NormalizeDirectory(file.entry.path);
        if (auto reserved = install_layout::ReservedByTheInstall(file.entry.name, directory)) {
            return "升级程序安装时会拒绝这个文件（" + *reserved + "），请改名或换一个目标目录：" + file.source;
        }
        if (!names.insert(name).second) return "升级包中不能有两个同名的文件：" + file.entry.name;
        // The installer refuses such a destination; the author hears of it now rather than from every user.
        if (auto problem = DirectoryProblem(file.entry.path)) return "目标目录无效（" + file.source + "）：" + *problem;
    }
    return std::nullopt;
}

// The author's private key, when config.ini names one: as a full path, so that where it lies can be judged.
std::optional<std::string> SigningKeyPath(const std::string& programDir)
{
    std::string key = ReadSigningKeySetting(programDir + std::string(layout::kServerSettings));
    if (key.empty()) return std::nullopt;
    const bool absolute = key.starts_with('\\') || (key.size() > 1 && key[1] == ':');
    if (!absolute) key = programDir + key;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(Widen(key).c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return key;  // left as written: reading it will say what is wrong
        if (length < full.size()) return Narrow(std::wstring_view(full.data(), length));
        full.resize(length);
    }
}

// The private key must never be packed or left among the built packages: nothing under the folders the build
// packs from or writes to. Returns the message, or nothing.
std::optional<std::string> ProblemWithKeyPlace(const std::string& keyPath, const std::string& programDir)
{
    for (std::string_view folder : {layout::kAuthorFiles, layout::kOutput}) {
        if (NameKey(keyPath).starts_with(NameKey(programDir + std::string(folder)))) {
            return "签名私钥不能放在 " + std::string(folder) + " 中，它会随升级包或输出目录外泄，请移到别处并修改 " +
                   std::string(layout::kServerSettings) + " 中的 SigningKey：" + keyPath;
        }
    }
    return std::nullopt;
}

// The entry names the package must hold, in any order, compared without regard to case.
std::multiset<std::string> ExpectedEntries(const std::vector<SourceFile>& files, bool signedPackage)
{
    std::multiset<std::string> names{NameKey(kDescriptorName)};
    if (signedPackage) names.insert(NameKey(layout::kSignature));
    for (const SourceFile& file : files) names.insert(NameKey(file.entry.name));
    return names;
}

// Whether the archive library wrote the package we asked for: an old or partial file must never be published.
bool HoldsExactly(const std::string& packagePath, const std::multiset<std::string>& expected)
{
    if (!FileExists(packagePath)) return false;
    try {
        const zipcore::ZipReader package = zipcore::ZipReader::open(packagePath);
        std::multiset<std::string> found;
        for (const zipcore::Entry& entry : package.entries()) found.insert(NameKey(entry.name));
        return found == expected;
    } catch (const std::exception&) {
        return false;
    }
}

// The author's file list: the step it builds and its files, in order.
struct FileList {
    std::string fromVersion;
    std::string toVersion;
    std::vector<SourceFile> files;
};

FileList ReadFileList(TXMLDocument& xml, const std::string& programDir)
{
    try {
        xml.LoadFromFile(programDir + std::string(layout::kFileList));
        xml.SetActive(true);
    } catch (const Exception&) {
        // The document stays inactive; reading it below reports "No active document".
    }
    TXMLNode root = xml.DocumentElement();
    FileList list{root.ChildNodes("foreversion").Text(), root.ChildNodes("version").Text(), {}};
    TXMLNode items = root.ChildNodes("files");
    const int count = items.ChildCount();
    for (int i = 0; i < count; ++i) {
        TXMLNode item = items.Child(i);
        const std::string source = item.AttributeText("src");
        std::string fullPath = programDir;
        fullPath.append(layout::kAuthorFiles).append(source);  // one chain of + trips GCC 12's -Wrestrict
        list.files.push_back({source, fullPath, {ExtractFileName(fullPath), item.AttributeText("des")}});
    }
    return list;
}

// With SigningKey set, the signer for this build: a key in the wrong place or one that cannot be read is a
// problem (the message), settled before anything is written. Without it, no signer and no problem.
std::optional<std::string> PrepareSigner(const std::string& programDir, std::optional<signing::PackageSigner>& signer)
{
    const std::optional<std::string> keyPath = SigningKeyPath(programDir);
    if (!keyPath) return std::nullopt;
    if (auto problem = ProblemWithKeyPlace(*keyPath, programDir)) return problem;
    try {
        signer.emplace(*keyPath);
    } catch (const signing::ESigningError& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}

// Every payload's SHA-256 on its descriptor entry, for a signed package; the message for a file that cannot be read.
std::optional<std::string> AddDigests(std::vector<SourceFile>& files)
{
    for (SourceFile& file : files) {
        try {
            file.entry.sha256 = signing::Hex(signing::FileSha256(file.fullPath));
        } catch (const EFileOperationError& error) {
            return "无法读取要打包的文件（" + signing_text::Unreadable(error) + "）：" + file.source;
        }
    }
    return std::nullopt;
}

}  // namespace

TPackageBuild::TPackageBuild(IFlowView& view, TXMLDocument& xml, const TZipPacker& packer, Publisher publish)
    : view_(view), xml_(xml), packer_(packer), publish_(std::move(publish))
{
}

void TPackageBuild::Run(WORD key)
{
    const std::string programDir = ProgramDirectory();
    if (!FileExists(programDir + std::string(layout::kAuthorMarker)) || key != kBuildKey) return;

    FileList list = ReadFileList(xml_, programDir);
    const std::string& fromVersion = list.fromVersion;
    const std::string& toVersion = list.toVersion;
    std::vector<SourceFile>& files = list.files;
    if (auto problem = ProblemWith(files)) {
        view_.Notify(*problem, NoticeIcon::Error);
        return;
    }

    // Signing is settled before anything is written: a key in the wrong place or one that cannot be read stops
    // the build here.
    std::optional<signing::PackageSigner> signer;
    if (auto problem = PrepareSigner(programDir, signer)) {
        view_.Notify(*problem, NoticeIcon::Error);
        return;
    }

    std::vector<PackageFile> entries;
    std::vector<std::string> packedFiles;
    if (signer) {
        if (auto problem = AddDigests(files)) {
            view_.Notify(*problem, NoticeIcon::Error);
            return;
        }
    }
    for (const SourceFile& file : files) {
        entries.push_back(file.entry);
        packedFiles.push_back(file.fullPath);
    }
    const std::string descriptorText = ComposeDescriptor(toVersion, entries);

    const std::string outputDir = programDir + std::string(layout::kOutput);
    const std::string descriptorPath = outputDir + std::string(kDescriptorName);
    const std::string signaturePath = outputDir + std::string(layout::kSignature);
    const std::string packagePath = outputDir + layout::PackageFileName(fromVersion, toVersion);
    std::vector<std::string> namesForLibrary = packedFiles;
    namesForLibrary.insert(namesForLibrary.end(), {descriptorPath, packagePath});
    if (signer) namesForLibrary.push_back(signaturePath);
    if (auto name = packer_.NameItCannotTake(namesForLibrary)) {
        view_.Notify(EArchiveNameError("zip32.dll", *name).what(), NoticeIcon::Error);
        return;
    }

    if (!DirectoryExists(outputDir) && !CreateDirectoryW(ToApiPath(outputDir).c_str(), nullptr)) {
        throw EInOutError(GetLastError());
    }
    SaveDescriptor(xml_, descriptorText, descriptorPath);
    packedFiles.push_back(descriptorPath);
    const auto removeWorkFiles = [&] {
        DeleteFileW(ToApiPath(descriptorPath).c_str());
        if (signer) DeleteFileW(ToApiPath(signaturePath).c_str());
    };
    if (signer) {
        // Signed as saved: the package stores these very bytes, and the install checks them as unpacked.
        try {
            signer->SignFile(descriptorPath, signaturePath);
        } catch (const signing::ESigningError& error) {
            removeWorkFiles();
            view_.Notify(error.what(), NoticeIcon::Error);
            return;
        }
        packedFiles.push_back(signaturePath);
    }

    // A package of the same name from an earlier build is replaced, never added to.
    if (!DeleteFileW(ToApiPath(packagePath).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        const DWORD error = GetLastError();
        removeWorkFiles();
        throw EInOutError(error);
    }
    packer_.ZipFiles(packagePath, packedFiles);
    removeWorkFiles();

    if (!HoldsExactly(packagePath, ExpectedEntries(files, signer.has_value()))) {
        DeleteFileW(ToApiPath(packagePath).c_str());
        view_.Notify("升级包没有生成，未发布到服务器：" + ExtractFileName(packagePath), NoticeIcon::Error);
        return;
    }
    if (publish_(packagePath, toVersion, fromVersion)) {
        view_.Notify("升级程序打包成功！", NoticeIcon::Information);
    }
}
