#include "KeyFiles.h"

#include "EcdsaKeys.h"
#include "FileBytes.h"
#include "SignatureTexts.h"

namespace signing {

namespace {

constexpr std::string_view kPublicTitle = "Tavilo update public key (ECDSA P-256)";
constexpr std::string_view kPrivateTitle = "Tavilo update private key (ECDSA P-256)";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// A key file is two short lines; anything much larger is not one, and is not read whole.
constexpr std::size_t kLargestKeyFile = 4096;

std::string_view Title(KeyKind kind)
{
    return kind == KeyKind::Public ? kPublicTitle : kPrivateTitle;
}

// The next line without its line end; the text moves past it.
std::string_view TakeLine(std::string_view& text)
{
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whether CNG takes the blob as a key: a point off the curve, say, has the right shape and is still no key.
bool Imports(KeyKind kind, std::span<const std::uint8_t> blob)
{
    try {
        if (kind == KeyKind::Public) {
            ImportPublicKey(blob);
        } else {
            PublicHalf(blob);
        }
        return true;
    } catch (const ECngError&) {
        return false;
    }
}

}  // namespace

EKeyFileError::EKeyFileError(KeyKind kind, const std::string& path, std::string reason)
    : Exception(signing_text::KeyFileUnusable(kind == KeyKind::Public, path, reason)), reason_(std::move(reason))
{
}

std::string ComposeKeyFile(KeyKind kind, std::span<const std::uint8_t> blob)
{
    return std::string(Title(kind)) + "\r\n" + Hex(blob) + "\r\n";
}

std::vector<std::uint8_t> ParseKeyFile(KeyKind kind, std::string_view text, const std::string& path)
{
    namespace t = signing_text;
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    const std::string_view title = TakeLine(text);
    const std::string_view digits = TakeLine(text);
    if (title != Title(kind)) {
        const KeyKind other = kind == KeyKind::Public ? KeyKind::Private : KeyKind::Public;
        throw EKeyFileError(
            kind, path, title == Title(other) ? t::WrongKeyKind(kind == KeyKind::Public) : t::NotAKeyFile(Title(kind)));
    }
    if (!text.empty()) throw EKeyFileError(kind, path, std::string(t::kKeyFileTrailingText));

    std::vector<std::uint8_t> blob;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        const int high = HexValue(digits[i]), low = HexValue(digits[i + 1]);
        if (high < 0 || low < 0) break;
        blob.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    const bool wellFormed = blob.size() * 2 == digits.size();
    if (!wellFormed || !(kind == KeyKind::Public ? IsPublicBlob(blob) : IsPrivateBlob(blob)) || !Imports(kind, blob)) {
        throw EKeyFileError(kind, path, std::string(t::kKeyDamaged));
    }
    return blob;
}

std::vector<std::uint8_t> ReadKeyFile(KeyKind kind, const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    try {
        bytes = ReadFileBytes(path, kLargestKeyFile);
    } catch (const EFileOperationError& error) {
        throw EKeyFileError(kind, path, signing_text::Unreadable(error));
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return ParseKeyFile(kind, text, path);
}

void WriteNewKeyFile(KeyKind kind, const std::string& path, std::span<const std::uint8_t> blob)
{
    const std::string text = ComposeKeyFile(kind, blob);
    WriteFileBytes(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), Existing::Refuse);
}

}  // namespace signing
