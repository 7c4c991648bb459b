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

int VerifyPackage(const std::string& packagePath, const std::string& publicKeyPath)
{
    try {
        const std::vector<std::uint8_t> publicKey = signing::ReadTrustedKey(publicKeyPath);
        const std::size_t files = signing::CheckArchivedPackage(packagePath, publicKey);
        WriteOut(t::PackageGood(packagePath, files));
        return kDone;
    } catch (const signing::EPackageNotTrusted& refused) {
        WriteError(t::PackageRefused(packagePath, refused.Finding()));
        return kFailed;
    } catch (const signing::EPackageUnreadable& unreadable) {
        WriteError(t::PackageUnreadable(packagePath, unreadable.what()));
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
