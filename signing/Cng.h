// Owners for the handles of the system's cryptography provider (CNG, bcrypt.dll), and the one error its calls
// raise. Every cryptographic operation of the program goes through CNG: nothing here computes anything itself.
#pragma once

#include <memory>
#include <string>
#include <windows.h>
#include <bcrypt.h>

#include "Errors.h"

namespace signing {

// A CNG call failed for a reason that is not an answer (a bad signature is an answer; see VerifyDigest).
class ECngError : public Exception {
public:
    ECngError(const char* call, NTSTATUS status);
    NTSTATUS Status() const { return status_; }

private:
    NTSTATUS status_;
};

// Raises ECngError unless the status is a success.
void CheckStatus(NTSTATUS status, const char* call);

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE algorithm) const { BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct KeyDestroyer {
    void operator()(BCRYPT_KEY_HANDLE key) const { BCryptDestroyKey(key); }
};
struct HashDestroyer {
    void operator()(BCRYPT_HASH_HANDLE hash) const { BCryptDestroyHash(hash); }
};
using UniqueAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using UniqueKey = std::unique_ptr<void, KeyDestroyer>;
using UniqueHash = std::unique_ptr<void, HashDestroyer>;

// The provider of an algorithm such as BCRYPT_SHA256_ALGORITHM or BCRYPT_ECDSA_P256_ALGORITHM.
UniqueAlgorithm OpenAlgorithm(const wchar_t* algorithm);

}  // namespace signing
