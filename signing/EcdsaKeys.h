// ECDSA on the curve P-256 with SHA-256, through CNG. Keys travel as CNG's own blobs: BCRYPT_ECCPUBLIC_BLOB
// (header and the point X, Y: 72 bytes) and BCRYPT_ECCPRIVATE_BLOB (header, X, Y and the secret d: 104 bytes).
// A signature is the 64 bytes BCryptSignHash returns, r followed by s.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "Sha256.h"

namespace signing {

inline constexpr std::size_t kCoordinateSize = 32;
inline constexpr std::size_t kPublicBlobSize = sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinateSize;
inline constexpr std::size_t kPrivateBlobSize = sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinateSize;
inline constexpr std::size_t kSignatureSize = 2 * kCoordinateSize;

using Signature = std::array<std::uint8_t, kSignatureSize>;

struct KeyPairBlobs {
    std::vector<std::uint8_t> privateBlob;
    std::vector<std::uint8_t> publicBlob;
};

// A fresh key pair from the system's random source.
KeyPairBlobs GenerateKeyPair();

// Whether the bytes have the shape of a P-256 blob of that kind: length, magic and coordinate size. What they
// hold is judged by CNG when the key is imported.
bool IsPublicBlob(std::span<const std::uint8_t> blob);
bool IsPrivateBlob(std::span<const std::uint8_t> blob);

// The key a public blob holds, as CNG imports it (ECngError when it refuses it).
UniqueKey ImportPublicKey(std::span<const std::uint8_t> publicBlob);

// The public half of a private blob.
std::vector<std::uint8_t> PublicHalf(std::span<const std::uint8_t> privateBlob);

Signature SignDigest(std::span<const std::uint8_t> privateBlob, const Digest& digest);

// True when the signature was made over this digest with the private half of this key; false for any other
// signature, including one of the wrong length. A provider that fails otherwise raises ECngError.
bool VerifyDigest(std::span<const std::uint8_t> publicBlob, const Digest& digest,
                  std::span<const std::uint8_t> signature);

}  // namespace signing
