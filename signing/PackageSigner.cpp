#include "PackageSigner.h"

#include "EcdsaKeys.h"
#include "FileBytes.h"
#include "KeyFiles.h"
#include "SignatureTexts.h"

namespace signing {

namespace {

constexpr std::size_t kLargestSignedFile = 64u << 20;

}  // namespace

PackageSigner::PackageSigner(const std::string& privateKeyPath)
{
    try {
        privateKey_ = ReadKeyFile(KeyKind::Private, privateKeyPath);
    } catch (const EKeyFileError& error) {
        throw ESigningError(error.what());
    }
}

void PackageSigner::SignFile(const std::string& path, const std::string& signaturePath) const
{
    Signature signature;
    try {
        signature = SignDigest(privateKey_, Sha256Of(ReadFileBytes(path, kLargestSignedFile)));
    } catch (const EFileOperationError& error) {
        throw ESigningError(signing_text::CannotSign(path, signing_text::Unreadable(error)));
    } catch (const ECngError& error) {
        throw ESigningError(signing_text::CannotSign(path, error.what()));
    }
    try {
        WriteFileBytes(signaturePath, signature, Existing::Replace);
    } catch (const EFileOperationError& error) {
        throw ESigningError(signing_text::CannotWrite(signaturePath, error.Code()));
    }
}

std::vector<std::uint8_t> PackageSigner::PublicKey() const
{
    try {
        return PublicHalf(privateKey_);
    } catch (const ECngError& error) {
        throw ESigningError(error.what());
    }
}

}  // namespace signing
