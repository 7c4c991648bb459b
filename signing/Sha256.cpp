#include "Sha256.h"

#include <algorithm>
#include <vector>

#include "FileBytes.h"
#include "Handles.h"
#include "Paths.h"

namespace signing {

Sha256::Sha256() : algorithm_(OpenAlgorithm(BCRYPT_SHA256_ALGORITHM))
{
    BCRYPT_HASH_HANDLE hash = nullptr;
    CheckStatus(BCryptCreateHash(algorithm_.get(), &hash, nullptr, 0, nullptr, 0, 0), "BCryptCreateHash");
    hash_.reset(hash);
}

void Sha256::Add(std::span<const std::uint8_t> bytes)
{
    // CNG takes a ULONG length: a span beyond 4 GiB goes in pieces.
    constexpr std::size_t kLargestPiece = 1u << 30;
    for (std::size_t at = 0; at < bytes.size(); at += kLargestPiece) {
        const auto piece = bytes.subspan(at, std::min(kLargestPiece, bytes.size() - at));
        CheckStatus(BCryptHashData(hash_.get(), const_cast<PUCHAR>(piece.data()), static_cast<ULONG>(piece.size()), 0),
                    "BCryptHashData");
    }
}

Digest Sha256::Finish()
{
    Digest digest{};
    CheckStatus(BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0), "BCryptFinishHash");
    return digest;
}

Digest Sha256Of(std::span<const std::uint8_t> bytes)
{
    Sha256 hash;
    hash.Add(bytes);
    return hash.Finish();
}

Digest FileSha256(const std::string& path)
{
    Sha256 hash;
    const UniqueHandle file =
        OwnHandle(CreateFileW(ToApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) throw EFileOperationError("Cannot read", path, GetLastError());
    std::vector<std::uint8_t> buffer(1 << 16);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            throw EFileOperationError("Cannot read", path, GetLastError());
        }
        if (read == 0) break;
        hash.Add(std::span(buffer.data(), read));
    }
    return hash.Finish();
}

std::string Hex(std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

}  // namespace signing
