#include "SignatureCheck.h"

#include <map>

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

// Files already in their places, each under the path its entry gives it.
class PlacedPackage final : public PackageContents {
public:
    explicit PlacedPackage(const std::function<std::string(const PackageFile&)>& pathOf,
                           const std::vector<PackageFile>& entries)
    {
        for (const PackageFile& entry : entries) paths_[entry.name] = pathOf(entry);
    }
    std::optional<std::vector<std::uint8_t>> Signature() const override { return std::nullopt; }
    std::vector<std::uint8_t> Descriptor() const override { return {}; }
    std::optional<Digest> PayloadSha256(const std::string& name) const override
    {
        const auto path = paths_.find(name);
        if (path == paths_.end()) return std::nullopt;
        try {
            return FileSha256(path->second);
        } catch (const EFileOperationError& error) {
            if (error.NotFound()) return std::nullopt;
            throw;
        }
    }

private:
    std::map<std::string, std::string> paths_;
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

UnpackedPackage::UnpackedPackage(std::vector<std::uint8_t> descriptor, std::string signaturePath,
                                 std::string payloadFolder)
    : descriptor_(std::move(descriptor)),
      signaturePath_(std::move(signaturePath)),
      payloadFolder_(std::move(payloadFolder))
{
}

std::vector<std::uint8_t> UnpackedPackage::ReadDescriptor(const std::string& descriptorPath)
{
    return ReadFileBytes(descriptorPath, kLargestDescriptor);
}

std::optional<std::vector<std::uint8_t>> UnpackedPackage::Signature() const
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

std::optional<Digest> UnpackedPackage::PayloadSha256(const std::string& name) const
{
    try {
        return FileSha256(payloadFolder_ + name);
    } catch (const EFileOperationError& error) {
        if (error.NotFound()) return std::nullopt;
        throw;
    }
}

void CheckUnpackedPackage(const std::string& descriptorPath, const std::string& signaturePath,
                          const std::string& payloadFolder, const std::vector<PackageFile>& entries,
                          const std::string& publicKeyPath)
{
    const std::vector<std::uint8_t> publicKey = ReadTrustedKey(publicKeyPath);
    CheckSignedPackage(UnpackedPackage(UnpackedPackage::ReadDescriptor(descriptorPath), signaturePath, payloadFolder),
                       entries, publicKey);
}

void CheckPlacedFiles(const std::vector<PackageFile>& entries,
                      const std::function<std::string(const PackageFile&)>& pathOf)
{
    CheckPayloads(PlacedPackage(pathOf, entries), entries);
}

}  // namespace signing
