#include "Cng.h"

#include <cstdio>

namespace signing {

namespace {

std::string Describe(const char* call, NTSTATUS status)
{
    char code[11];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    return std::string("系统的加密服务（CNG）在 ") + call + " 处失败：NTSTATUS " + code + "。";
}

}  // namespace

ECngError::ECngError(const char* call, NTSTATUS status) : Exception(Describe(call, status)), status_(status)
{
}

void CheckStatus(NTSTATUS status, const char* call)
{
    if (!BCRYPT_SUCCESS(status)) throw ECngError(call, status);
}

UniqueAlgorithm OpenAlgorithm(const wchar_t* algorithm)
{
    BCRYPT_ALG_HANDLE handle = nullptr;
    CheckStatus(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0), "BCryptOpenAlgorithmProvider");
    return UniqueAlgorithm(handle);
}

}  // namespace signing
