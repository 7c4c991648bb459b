// The check a package must pass when the program directory holds a public key: the signature Update.sig over the
// exact bytes of Update.xml, then every payload's SHA-256 against the sha256 attribute of its entry. The install
// runs it on the package unpacked into its staging folder before the first file moves; UpdateKey verify runs the
// same check on a package still in its archive.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Errors.h"
#include "ProgramLayout.h"
#include "Sha256.h"
#include "UpdateDescriptor.h"

namespace signing {

// The package's entry that holds the signature, beside the descriptor Update.xml.
inline constexpr std::string_view kSignatureName = layout::kSignature;

enum class Check {
    KeyUnusable,        // the public key file cannot be read or is no public key: every package is refused
    NoSignature,        // the package holds no Update.sig (an unsigned package)
    SignatureMismatch,  // Update.sig is not a signature of this Update.xml under this key
    FileDiffers,        // a payload is missing, has no sha256 attribute, or its bytes differ
};

// The package is refused. what() is the install's message; Finding() says what is wrong alone, for the tool.
class EPackageNotTrusted : public Exception {
public:
    EPackageNotTrusted(Check check, std::string subject, std::string finding, const std::string& message);
    Check Failed() const { return check_; }
    // The payload's name (FileDiffers) or the key file's path (KeyUnusable); empty otherwise.
    const std::string& Subject() const { return subject_; }
    const std::string& Finding() const { return finding_; }

private:
    Check check_;
    std::string subject_;
    std::string finding_;
};

// What the check reads of a package, wherever the package is.
class PackageContents {
public:
    virtual ~PackageContents() = default;
    // The bytes of Update.sig; nothing when the package holds none.
    virtual std::optional<std::vector<std::uint8_t>> Signature() const = 0;
    // The bytes of Update.xml, exactly as stored.
    virtual std::vector<std::uint8_t> Descriptor() const = 0;
    // The SHA-256 of the payload of that name; nothing when the package holds no such file.
    virtual std::optional<Digest> PayloadSha256(const std::string& name) const = 0;
};

// The public key from its file; a file that cannot be read or parsed raises EPackageNotTrusted (KeyUnusable).
std::vector<std::uint8_t> ReadTrustedKey(const std::string& publicKeyPath);

// Raises EPackageNotTrusted for the first check that fails. `entries` are the descriptor's entries as read from
// these very bytes of Update.xml.
void CheckSignedPackage(const PackageContents& package, const std::vector<PackageFile>& entries,
                        std::span<const std::uint8_t> publicKey);
// Its two halves, for a caller that would rather not parse a descriptor before its signature is known good:
// the signature over Update.xml (NoSignature, SignatureMismatch), then the payloads (FileDiffers).
void CheckSignature(const PackageContents& package, std::span<const std::uint8_t> publicKey);
void CheckPayloads(const PackageContents& package, const std::vector<PackageFile>& entries);

// The package as the install leaves it, unpacked flat into a folder (ending in '\'): the bytes of Update.xml as
// the caller read them once (to check and then parse the same bytes), Update.sig at its path (it may be missing),
// each payload under its name in the folder.
class UnpackedPackage final : public PackageContents {
public:
    UnpackedPackage(std::vector<std::uint8_t> descriptor, std::string signaturePath, std::string payloadFolder);
    // The descriptor's bytes from its file; one too large for a descriptor raises EFileOperationError.
    static std::vector<std::uint8_t> ReadDescriptor(const std::string& descriptorPath);

    std::optional<std::vector<std::uint8_t>> Signature() const override;
    std::vector<std::uint8_t> Descriptor() const override { return descriptor_; }
    std::optional<Digest> PayloadSha256(const std::string& name) const override;

private:
    std::vector<std::uint8_t> descriptor_;
    std::string signaturePath_;
    std::string payloadFolder_;
};

// The install's check on the package unpacked into a folder, read from the paths given. The key is read first,
// so that an unusable key refuses every package.
void CheckUnpackedPackage(const std::string& descriptorPath, const std::string& signaturePath,
                          const std::string& payloadFolder, const std::vector<PackageFile>& entries,
                          const std::string& publicKeyPath);

// The payload check again on the files where the install has placed them (`pathOf` gives each entry's path),
// just before it commits: what was checked in the staging folder may have been changed on its way.
// EPackageNotTrusted (FileDiffers) for the first that differs from its signed digest.
void CheckPlacedFiles(const std::vector<PackageFile>& entries,
                      const std::function<std::string(const PackageFile&)>& pathOf);

}  // namespace signing
