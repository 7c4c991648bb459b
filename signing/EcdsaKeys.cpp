#include "EcdsaKeys.h"

#include <cstring>

namespace signing {

namespace {

// STATUS_INVALID_SIGNATURE: the provider's answer "this signature is not of this digest under this key".
constexpr NTSTATUS kInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);
// STATUS_SUCCESS, which the headers define only beside the rest of ntstatus.h.
constexpr NTSTATUS kSuccess = 0;

bool HasShape(std::span<const std::uint8_t> blob, std::size_t size, ULONG magic)
{
    if (blob.size() != size) return false;
    BCRYPT_ECCKEY_BLOB header;
    std::memcpy(&header, blob.data(), sizeof header);
    return header.dwMagic == magic && header.cbKey == kCoordinateSize;
}

UniqueKey ImportKey(const wchar_t* blobType, std::span<const std::uint8_t> blob)
{
    const UniqueAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    BCRYPT_KEY_HANDLE key = nullptr;
    CheckStatus(BCryptImportKeyPair(algorithm.get(), nullptr, blobType, &key, const_cast<PUCHAR>(blob.data()),
                                    static_cast<ULONG>(blob.size()), 0),
                "BCryptImportKeyPair");
    return UniqueKey(key);
}

std::vector<std::uint8_t> ExportKey(BCRYPT_KEY_HANDLE key, const wchar_t* blobType, std::size_t size)
{
    std::vector<std::uint8_t> blob(size);
    ULONG written = 0;
    CheckStatus(BCryptExportKey(key, nullptr, blobType, blob.data(), static_cast<ULONG>(blob.size()), &written, 0),
                "BCryptExportKey");
    blob.resize(written);
    return blob;
}

}  // namespace

KeyPairBlobs GenerateKeyPair()
{
    const UniqueAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    BCRYPT_KEY_HANDLE handle = nullptr;
    CheckStatus(BCryptGenerateKeyPair(algorithm.get(), &handle, 256, 0), "BCryptGenerateKeyPair");
    const UniqueKey key(handle);
    CheckStatus(BCryptFinalizeKeyPair(key.get(), 0), "BCryptFinalizeKeyPair");
    return {ExportKey(key.get(), BCRYPT_ECCPRIVATE_BLOB, kPrivateBlobSize),
            ExportKey(key.get(), BCRYPT_ECCPUBLIC_BLOB, kPublicBlobSize)};
}

UniqueKey ImportPublicKey(std::span<const std::uint8_t> publicBlob)
{
    return ImportKey(BCRYPT_ECCPUBLIC_BLOB, publicBlob);
}

bool IsPublicBlob(std::span<const std::uint8_t> blob)
{
    return HasShape(blob, kPublicBlobSize, BCRYPT_ECDSA_PUBLIC_P256_MAGIC);
}

bool IsPrivateBlob(std::span<const std::uint8_t> blob)
{
    return HasShape(blob, kPrivateBlobSize, BCRYPT_ECDSA_PRIVATE_P256_MAGIC);
}

std::vector<std::uint8_t> PublicHalf(std::span<const std::uint8_t> privateBlob)
{
    const UniqueKey key = ImportKey(BCRYPT_ECCPRIVATE_BLOB, privateBlob);
    return ExportKey(key.get(), BCRYPT_ECCPUBLIC_BLOB, kPublicBlobSize);
}

Signature SignDigest(std::span<const std::uint8_t> privateBlob, const Digest& digest)
{
    const UniqueKey key = ImportKey(BCRYPT_ECCPRIVATE_BLOB, privateBlob);
    Signature signature{};
    ULONG written = 0;
    // ECDSA takes no padding information: the digest is signed as it is.
    CheckStatus(BCryptSignHash(key.get(), nullptr, const_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()),
                               signature.data(), static_cast<ULONG>(signature.size()), &written, 0),
                "BCryptSignHash");
    if (written != signature.size()) throw ECngError("BCryptSignHash", static_cast<NTSTATUS>(STATUS_INVALID_PARAMETER));
    return signature;
}

bool VerifyDigest(std::span<const std::uint8_t> publicBlob, const Digest& digest,
                  std::span<const std::uint8_t> signature)
{
    if (signature.size() != kSignatureSize) return false;
    const UniqueKey key = ImportPublicKey(publicBlob);
    const NTSTATUS status =
        BCryptVerifySignature(key.get(), nullptr, const_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()),
                              const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()), 0);
    if (status == kInvalidSignature) return false;
    // Only STATUS_SUCCESS says the signature is good: an informational or warning status is no such answer.
    if (status != kSuccess) throw ECngError("BCryptVerifySignature", status);
    return true;
}

}  // namespace signing
