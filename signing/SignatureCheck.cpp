#include "SignatureCheck.h"

#include "EcdsaKeys.h"
#include "FileBytes.h"
#include "KeyFiles.h"
#include "SignatureTexts.h"

namespace signing {

namespace {

namespace t = signing_text;

// A descriptor names each payload on one short line; a few thousand files stay far below this.
constexpr std::size_t kLargestDescriptor = 64u << 20;

bool SameHex(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

[[noreturn]] void FileDiffers(const std::string& name, std::string_view reason)
{
    const std::string finding = t::FileDiffers(name, reason);
    throw EPackageNotTrusted(Check::FileDiffers, name, finding, t::RefusedFileDiffers(finding));
}

void CheckPayload(const PackageContents& package, const PackageFile& entry)
{
    // A signed descriptor vouches only for what it records: a payload without its digest is not vouched for.
    if (!entry.sha256) FileDiffers(entry.name, t::kNoSha256);
    std::optional<Digest> actual;
    try {
        actual = package.PayloadSha256(entry.name);
    } catch (const EFileOperationError& error) {
        FileDiffers(entry.name, t::Unreadable(error));
    }
    if (!actual) FileDiffers(entry.name, t::kPayloadMissing);
    if (!SameHex(Hex(*actual), *entry.sha256)) FileDiffers(entry.name, t::kContentDiffers);
}

// The package as the install leaves it: unpacked flat into one folder.
class UnpackedPackage final : public PackageContents {
public:
    UnpackedPackage(std::string descriptorPath, std::string signaturePath, std::string payloadFolder)
        : descriptorPath_(std::move(descriptorPath)),
          signaturePath_(std::move(signaturePath)),
          payloadFolder_(std::move(payloadFolder))
    {
    }

    std::optional<std::vector<std::uint8_t>> Signature() const override
    {
        try {
            return ReadFileBytes(signaturePath_, kSignatureSize);
        } catch (const EFileOperationError& error) {
            if (error.NotFound()) return std::nullopt;
            // Larger than any signature: present, and no signature of anything.
            if (error.Code() == ERROR_FILE_TOO_LARGE) return std::vector<std::uint8_t>{};
            throw;
        }
    }

    std::vector<std::uint8_t> Descriptor() const override { return ReadFileBytes(descriptorPath_, kLargestDescriptor); }

    std::optional<Digest> PayloadSha256(const std::string& name) const override
    {
        try {
            return FileSha256(payloadFolder_ + name);
        } catch (const EFileOperationError& error) {
            if (error.NotFound()) return std::nullopt;
            throw;
        }
    }

private:
    std::string descriptorPath_;
    std::string signaturePath_;
    std::string payloadFolder_;
};

}  // namespace

EPackageNotTrusted::EPackageNotTrusted(Check check, std::string subject, std::string finding,
                                       const std::string& message)
    : Exception(message), check_(check), subject_(std::move(subject)), finding_(std::move(finding))
{
}

std::vector<std::uint8_t> ReadTrustedKey(const std::string& publicKeyPath)
{
    try {
        return ReadKeyFile(KeyKind::Public, publicKeyPath);
    } catch (const EKeyFileError& error) {
        throw EPackageNotTrusted(Check::KeyUnusable, publicKeyPath, error.what(), t::RefusedKeyUnusable(error.what()));
    }
}

void CheckSignedPackage(const PackageContents& package, const std::vector<PackageFile>& entries,
                        std::span<const std::uint8_t> publicKey)
{
    CheckSignature(package, publicKey);
    CheckPayloads(package, entries);
}

void CheckSignature(const PackageContents& package, std::span<const std::uint8_t> publicKey)
{
    const std::optional<std::vector<std::uint8_t>> signature = package.Signature();
    if (!signature) {
        throw EPackageNotTrusted(Check::NoSignature, {}, std::string(t::kNoSignature), t::RefusedNoSignature());
    }
    if (!VerifyDigest(publicKey, Sha256Of(package.Descriptor()), *signature)) {
        throw EPackageNotTrusted(Check::SignatureMismatch, {}, std::string(t::kSignatureMismatch),
                                 t::RefusedSignatureMismatch());
    }
}

void CheckPayloads(const PackageContents& package, const std::vector<PackageFile>& entries)
{
    for (const PackageFile& entry : entries) CheckPayload(package, entry);
}

void CheckUnpackedPackage(const std::string& descriptorPath, const std::string& signaturePath,
                          const std::string& payloadFolder, const std::vector<PackageFile>& entries,
                          const std::string& publicKeyPath)
{
    const std::vector<std::uint8_t> publicKey = ReadTrustedKey(publicKeyPath);
    CheckSignedPackage(UnpackedPackage(descriptorPath, signaturePath, payloadFolder), entries, publicKey);
}

}  // namespace signing
