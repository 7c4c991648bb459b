// UpdateKey.exe, the author's tool for signed packages:
//   UpdateKey new PRIVATE-FILE PUBLIC-FILE     a new key pair; neither file may exist yet
//   UpdateKey verify PACKAGE PUBLIC-FILE       the install's signature and SHA-256 checks on a package
// Exit code 0 only when the command did what it says (for verify: the package would pass); 1 when it did not,
// 2 for a command line it does not understand.
#include <string>
#include <vector>
#include <windows.h>

#include "ArchivedPackage.h"
#include "ComApartment.h"
#include "ConsoleText.h"
#include "EcdsaKeys.h"
#include "FileBytes.h"
#include "KeyFiles.h"
#include "Paths.h"
#include "SignatureTexts.h"
#include "Text.h"
#include "UpdateDescriptor.h"
#include "zipcore/error.hpp"

namespace {

namespace t = signing_text;

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

int MakeKeyPair(const std::string& privatePath, const std::string& publicPath)
{
    // Both names are checked before either file is written: the command makes both files or neither.
    for (const std::string& path : {privatePath, publicPath}) {
        if (GetFileAttributesW(ToApiPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
            WriteError(t::KeyFileExists(path));
            return kFailed;
        }
    }
    const signing::KeyPairBlobs pair = signing::GenerateKeyPair();
    signing::WriteNewKeyFile(signing::KeyKind::Private, privatePath, pair.privateBlob);
    try {
        signing::WriteNewKeyFile(signing::KeyKind::Public, publicPath, pair.publicBlob);
    } catch (const EFileOperationError&) {
        DeleteFileW(ToApiPath(privatePath).c_str());  // a private key without its public half is of no use
        throw;
    }
    WriteOut(t::KeyPairMade(privatePath, publicPath));
    return kDone;
}

// A temporary file that goes with the object.
class TemporaryFile {
public:
    explicit TemporaryFile(std::span<const std::uint8_t> bytes)
    {
        wchar_t folder[MAX_PATH + 1];
        wchar_t name[MAX_PATH + 1];
        if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"upk", 0, name) == 0) {
            throw EFileOperationError("Cannot make a temporary file in", "%TEMP%", GetLastError());
        }
        path_ = Narrow(name);
        signing::WriteFileBytes(path_, bytes, signing::Existing::Replace);
    }
    ~TemporaryFile() { DeleteFileW(Widen(path_).c_str()); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// The entries as the install reads them: MSXML loading the descriptor's bytes from a file.
std::vector<PackageFile> ReadEntries(std::span<const std::uint8_t> descriptor)
{
    const TemporaryFile file(descriptor);
    TXMLDocument xml;
    xml.LoadFromFile(file.Path());
    return DescriptorReader(xml).Files();
}

int VerifyPackage(const std::string& packagePath, const std::string& publicKeyPath)
{
    try {
        const std::vector<std::uint8_t> publicKey = signing::ReadTrustedKey(publicKeyPath);
        std::optional<ArchivedPackage> package;
        try {
            package.emplace(packagePath);
        } catch (const zipcore::Error& error) {
            WriteError(t::PackageUnreadable(packagePath, error.what()));
            return kFailed;
        }
        if (!package->Holds("Update.xml")) {
            WriteError(t::PackageUnreadable(packagePath, t::kNoDescriptor));
            return kFailed;
        }
        // The signature first: a descriptor is parsed only once it is known to be the author's.
        signing::CheckSignature(*package, publicKey);
        std::vector<PackageFile> entries;
        try {
            entries = ReadEntries(package->Descriptor());
        } catch (const Exception& error) {
            WriteError(t::PackageUnreadable(packagePath, t::DescriptorUnreadable(error.what())));
            return kFailed;
        }
        signing::CheckPayloads(*package, entries);
        WriteOut(t::PackageGood(packagePath, entries.size()));
        return kDone;
    } catch (const signing::EPackageNotTrusted& refused) {
        WriteError(t::PackageRefused(packagePath, refused.Finding()));
        return kFailed;
    } catch (const zipcore::Error& error) {
        WriteError(t::PackageUnreadable(packagePath, error.what()));
        return kFailed;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(Narrow(argv[i]));
    try {
        if (arguments.size() == 3 && arguments[0] == "new") return MakeKeyPair(arguments[1], arguments[2]);
        if (arguments.size() == 3 && arguments[0] == "verify") {
            const ComApartment com;
            return VerifyPackage(arguments[1], arguments[2]);
        }
        WriteError(t::kUsage);
        return kUsage;
    } catch (const EFileOperationError& error) {
        WriteError(t::CannotWrite(error.Path(), error.Code()) + "\n");
        return kFailed;
    } catch (const std::exception& error) {
        WriteError(std::string(error.what()) + "\n");
        return kFailed;
    }
}
