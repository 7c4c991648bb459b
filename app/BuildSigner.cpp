#include "BuildSigner.h"

#include <windows.h>

#include "Notice.h"
#include "ProgramLayout.h"
#include "Text.h"
#include "UpdateServer.h"
#include "zipcore/name_match.hpp"

namespace {

// The author's private key, when config.ini names one: as a full path, so that where it lies can be judged.
std::optional<std::string> SigningKeyPath(const std::string& programDir)
{
    std::string key = ReadSigningKeySetting(programDir + std::string(layout::kServerSettings));
    if (key.empty()) return std::nullopt;
    const bool absolute = key.starts_with('\\') || (key.size() > 1 && key[1] == ':');
    if (!absolute) key = programDir + key;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(Widen(key).c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return key;  // left as written: reading it will say what is wrong
        if (length < full.size()) return Narrow(std::wstring_view(full.data(), length));
        full.resize(length);
    }
}

// The private key must never be packed or left among the built packages: nothing under the folders the build
// packs from or writes to.
void CheckKeyPlace(const std::string& keyPath, const std::string& programDir)
{
    for (std::string_view folder : {layout::kAuthorFiles, layout::kOutput}) {
        if (zipcore::fileNameKey(keyPath).starts_with(zipcore::fileNameKey(programDir + std::string(folder)))) {
            throw ERefusal(ErrorNotice("签名私钥不能放在 " + std::string(folder) +
                                       " 中，它会随升级包或输出目录外泄，请移到别处并修改 " +
                                       std::string(layout::kServerSettings) + " 中的 SigningKey：" + keyPath));
        }
    }
}

}  // namespace

std::optional<signing::PackageSigner> PrepareSigner(const std::string& programDir)
{
    const std::optional<std::string> keyPath = SigningKeyPath(programDir);
    if (!keyPath) return std::nullopt;
    CheckKeyPlace(*keyPath, programDir);
    try {
        return signing::PackageSigner(*keyPath);
    } catch (const signing::ESigningError& error) {
        throw ERefusal(ErrorNotice(error.what()));
    }
}
