#include "install/PackageFingerprint.h"

#include <cstdio>
#include <memory>
#include <vector>
#include <windows.h>
#include <bcrypt.h>

#include "Paths.h"
#include "install/FileOperations.h"

namespace {

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE algorithm) const { BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashDestroyer {
    void operator()(BCRYPT_HASH_HANDLE hash) const { BCryptDestroyHash(hash); }
};
using UniqueAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using UniqueHash = std::unique_ptr<void, HashDestroyer>;

void Check(NTSTATUS status, const char* what)
{
    if (!BCRYPT_SUCCESS(status)) {
        char code[11];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
        throw Exception(std::string("SHA-256 through CNG failed at ") + what + ": NTSTATUS " + code);
    }
}

}  // namespace

std::string Sha256OfFile(const std::string& path)
{
    BCRYPT_ALG_HANDLE algorithmHandle = nullptr;
    Check(BCryptOpenAlgorithmProvider(&algorithmHandle, BCRYPT_SHA256_ALGORITHM, nullptr, 0), "open");
    const UniqueAlgorithm algorithm(algorithmHandle);
    BCRYPT_HASH_HANDLE hashHandle = nullptr;
    // The package is hashed as it is read, piece by piece: it may be far larger than memory should hold at once.
    Check(BCryptCreateHash(algorithm.get(), &hashHandle, nullptr, 0, nullptr, 0, 0), "create");
    const UniqueHash hash(hashHandle);

    const UniqueHandle file =
        OwnHandle(CreateFileW(ToApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) throw FileOperationError("Cannot read", path, GetLastError());
    std::vector<UCHAR> buffer(1 << 16);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            throw FileOperationError("Cannot read", path, GetLastError());
        }
        if (read == 0) break;
        Check(BCryptHashData(hash.get(), buffer.data(), read, 0), "hash");
    }
    UCHAR digest[32];
    Check(BCryptFinishHash(hash.get(), digest, sizeof digest, 0), "finish");

    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const UCHAR byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0x0F];
    }
    return hex;
}
