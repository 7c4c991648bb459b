#include "BuildFlow.h"

#include <set>

#include "Application.h"
#include "ArchiveLibrary.h"
#include "ArchivedPackage.h"
#include "BuildSigner.h"
#include "DottedVersion.h"
#include "Paths.h"
#include "ProgramLayout.h"
#include "Sha256.h"
#include "UpdateDescriptor.h"
#include "XmlDocument.h"
#include "ZipPacker.h"
#include "zipcore/name_match.hpp"
#include "zipcore/zip_reader.hpp"
#include "install/SafeNames.h"
#include "install/UpdateLock.h"

#ifdef TAVILO_FAULT_INJECTION
#include "install/FaultPlan.h"
#endif

// Output\ as one build writes it. The descriptor and its signature lie there only while the library packs them.
struct TPackageBuild::Output {
    Output(const std::string& programDir, const FileList& list)
        : directory(programDir + std::string(layout::kOutput)),
          descriptor(directory + std::string(layout::kBuiltDescriptor)),
          signature(directory + std::string(layout::kSignature)),
          package(directory + layout::PackageFileName(list.fromVersion, list.toVersion))
    {
    }
    std::string directory;
    std::string descriptor;
    std::string signature;
    std::string package;
};

namespace {

[[noreturn]] void Refuse(const std::string& text)
{
    throw ERefusal(ErrorNotice(text));
}

std::vector<PackageFile> EntriesOf(const std::vector<SourceFile>& files)
{
    std::vector<PackageFile> entries;
    for (const SourceFile& file : files) entries.push_back(file.entry);
    return entries;
}

std::vector<std::string> PathsOf(const std::vector<SourceFile>& files)
{
    std::vector<std::string> paths;
    for (const SourceFile& file : files) paths.push_back(file.fullPath);
    return paths;
}

// The work files in Output\, removed however the packing ends.
class WorkFiles {
public:
    explicit WorkFiles(std::vector<std::string> paths) : paths_(std::move(paths)) {}
    ~WorkFiles()
    {
        for (const std::string& path : paths_) DeleteFileW(ToApiPath(path).c_str());
    }
    WorkFiles(const WorkFiles&) = delete;
    WorkFiles& operator=(const WorkFiles&) = delete;

private:
    std::vector<std::string> paths_;
};

void MakeOutputDirectory(const std::string& directory)
{
    if (!DirectoryExists(directory) && !CreateDirectoryW(ToApiPath(directory).c_str(), nullptr)) {
        throw EInOutError(GetLastError());
    }
}

// A package of the same name from an earlier build. It goes aside before the library is called: a library may add
// to an archive it finds, and an old package must never pass the check as the new one. It is deleted once a new
// package has passed the check, and put back however the build ends without one.
class EarlierPackage {
public:
    explicit EarlierPackage(std::string packagePath) : package_(std::move(packagePath)), aside_(package_ + ".earlier")
    {
        if (MoveFileExW(ToApiPath(package_).c_str(), ToApiPath(aside_).c_str(), MOVEFILE_REPLACE_EXISTING)) {
            kept_ = true;
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) throw EInOutError(error);
    }
    ~EarlierPackage()
    {
        if (kept_) MoveFileExW(ToApiPath(aside_).c_str(), ToApiPath(package_).c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    EarlierPackage(const EarlierPackage&) = delete;
    EarlierPackage& operator=(const EarlierPackage&) = delete;

    void Discard()
    {
        if (kept_) DeleteFileW(ToApiPath(aside_).c_str());
        kept_ = false;
    }

private:
    std::string package_;
    std::string aside_;
    bool kept_ = false;
};

// The entry names the package must hold, in any order, compared without regard to case.
std::multiset<std::string> ExpectedEntries(const std::vector<SourceFile>& files, bool signedPackage)
{
    std::multiset<std::string> names{zipcore::fileNameKey(layout::kBuiltDescriptor)};
    if (signedPackage) names.insert(zipcore::fileNameKey(layout::kSignature));
    for (const SourceFile& file : files) names.insert(zipcore::fileNameKey(file.entry.name));
    return names;
}

// Whether the archive library wrote the package we asked for.
bool HoldsExactly(const std::string& packagePath, const std::multiset<std::string>& expected)
{
    if (!FileExists(packagePath)) return false;
    try {
        const zipcore::ZipReader package = zipcore::ZipReader::open(packagePath);
        std::multiset<std::string> found;
        for (const zipcore::Entry& entry : package.entries()) found.insert(zipcore::fileNameKey(entry.name));
        return found == expected;
    } catch (const std::exception&) {
        return false;
    }
}

// An old or partial file must never be published: anything else is deleted, and the build says so.
void CheckPackage(const std::string& packagePath, const std::multiset<std::string>& expected)
{
    if (HoldsExactly(packagePath, expected)) return;
    DeleteFileW(ToApiPath(packagePath).c_str());
    Refuse("升级包没有生成，未发布到服务器：" + ExtractFileName(packagePath));
}

// A signed package is checked as every holder of the public key will check it: the digests were taken from the
// files before the library read them again to pack them, and a file changed in between makes a package that every
// install refuses. Such a package is deleted, never published.
void CheckAsKeyHoldersWill(const std::string& packagePath, const signing::PackageSigner& signer)
{
    std::string finding;
    try {
        signing::CheckArchivedPackage(packagePath, signer.PublicKey());
        return;
    } catch (const signing::EPackageNotTrusted& refused) {
        finding = refused.Finding();
    } catch (const signing::EPackageUnreadable& unreadable) {
        finding = unreadable.what();
    } catch (const signing::ESigningError& error) {
        finding = error.what();
    }
    DeleteFileW(ToApiPath(packagePath).c_str());
    Refuse("升级包没有通过签名检查，未发布到服务器，已将它删除：" + ExtractFileName(packagePath) + "。" + finding +
           "。要打包的文件可能在打包期间被改动过，请重新按 F2 打包。");
}

// A package that cannot be read again here is no business of the log's: the build goes on as it would without it.
std::string Sha256ForTheLog(const std::string& path)
{
    try {
        return signing::Hex(signing::FileSha256(path));
    } catch (const std::exception&) {
        return "unknown";
    }
}

}  // namespace

TPackageBuild::TPackageBuild(IFlowView& view, std::string programDirectory, TXMLDocument& xml, const TZipPacker& packer,
                             TPublication publication, TElevation elevation)
    : log_(programDirectory, "F2 build"),
      view_(view, log_),
      programDirectory_(std::move(programDirectory)),
      xml_(xml),
      packer_(packer),
      publication_(std::move(publication)),
      elevation_(elevation)
{
}

void TPackageBuild::Run()
{
    try {
        FileList list = ReadFileList(xml_, programDirectory_);
        // Signing is settled before anything is written: a key in the wrong place or one that cannot be read
        // stops the build here. Whether it signs decides whether Update.sig is a name of its own.
        const std::optional<signing::PackageSigner> signer = PrepareSigner(programDirectory_);
        log_.Line("file list: version " + list.fromVersion + " to " + list.toVersion + ", " +
                  std::to_string(list.files.size()) + " files, " + (signer ? "signed" : "not signed"));
        CheckFileList(list.files, signer.has_value());
        // Where packages are signed, an install takes one only above the version it installed last.
        if (signer && !IsDottedVersion(list.toVersion)) {
            Refuse("签名的升级包的版本号必须是用点分隔的数字（例如 1.0.3），\"" + list.toVersion +
                   "\" 不是，安装时无法与已安装的版本比较。没有生成升级包。");
        }
        if (signer) AddDigests(list.files);
        const std::string descriptorText = ComposeDescriptor(list.toVersion, EntriesOf(list.files));
        const Output output(programDirectory_, list);
        CheckNamesForLibrary(list.files, signer.has_value(), output);
        // Where this process may not write, an elevated copy takes the build over before anything is written.
        const std::string temp = programDirectory_ + std::string(layout::kTemp);
        if (elevation_.HandOverIfDenied(ElevatedRun::Build, {programDirectory_, temp, output.directory})) {
            view_.HandOver();
            return;
        }
        // Taken once the list has passed, before anything is written: one build or install at a time here.
        std::optional<UpdateLock> lock = UpdateLock::Take(programDirectory_);
        log_.StartUnderLock();
        EarlierPackage earlier(output.package);
        if (auto missingLibrary = Pack(descriptorText, list.files, signer, output)) view_.Notify(*missingLibrary);
        CheckPackage(output.package, ExpectedEntries(list.files, signer.has_value()));
        if (signer) CheckAsKeyHoldersWill(output.package, *signer);
        earlier.Discard();
        log_.Package(signer ? "package written, signed" : "package written, not signed", output.package,
                     Sha256ForTheLog(output.package));
        const bool published = publication_.Publish(output.package, list.toVersion, list.fromVersion, log_);
        lock.reset();  // the run is over: the box below waits for the user, not the next build
        if (published) {
            view_.Notify(InformationNotice("升级程序打包成功！"));
        }
    } catch (const ERefusal& refusal) {
        view_.Notify(refusal.GetNotice());
    } catch (const std::exception& error) {
        log_.Unexpected(WithFullStop(error.what()));
        throw;
    }
}

// Info-ZIP's own zip32.dll takes names in the system's code page: a name it cannot be given stops the build
// before anything is written.
void TPackageBuild::CheckNamesForLibrary(const std::vector<SourceFile>& files, bool signedPackage,
                                         const Output& output) const
{
    std::vector<std::string> names = PathsOf(files);
    names.insert(names.end(), {output.descriptor, output.package});
    if (signedPackage) names.push_back(output.signature);
    if (auto name = packer_.NameItCannotTake(names, programDirectory_)) {
        Refuse(EArchiveNameError("zip32.dll", *name).what());
    }
}

// Writes the package from the listed files, then the descriptor, then its signature when signed. Returns the
// notice of a missing zip32.dll, which writes no package.
std::optional<Notice> TPackageBuild::Pack(const std::string& descriptorText, const std::vector<SourceFile>& files,
                                          const std::optional<signing::PackageSigner>& signer, const Output& output)
{
    MakeOutputDirectory(output.directory);
    const WorkFiles workFiles(signer ? std::vector{output.descriptor, output.signature}
                                     : std::vector{output.descriptor});
    SaveDescriptor(xml_, descriptorText, output.descriptor);
    std::vector<std::string> packed = PathsOf(files);
    for (const SourceFile& file : files) {
        log_.Line("packing: " + file.fullPath + " as " + NormalizeDirectory(file.entry.path) + file.entry.name);
    }
    packed.push_back(output.descriptor);
    if (signer) {
        // Signed as saved: the package stores these very bytes, and the install checks them as unpacked.
        try {
            signer->SignFile(output.descriptor, output.signature);
        } catch (const signing::ESigningError& error) {
            Refuse(error.what());
        }
        packed.push_back(output.signature);
    }
#ifdef TAVILO_FAULT_INJECTION
    FaultPlan::AlterBeforePacking(packed);
#endif
    return packer_.ZipFiles(output.package, packed, programDirectory_);
}
