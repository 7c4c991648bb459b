// The key files: two lines of text, so that a file in the wrong place is recognised for what it is.
//   Tavilo update public key (ECDSA P-256)        or   Tavilo update private key (ECDSA P-256)
//   the CNG blob of that key in hexadecimal        (144 digits for a public key, 208 for a private one)
// Written with CRLF line ends; read with CRLF or LF, a final line end or none, and a UTF-8 byte order mark that
// an editor may have added. Anything else is refused with the reason.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Errors.h"

namespace signing {

enum class KeyKind { Public, Private };

// A key file that cannot be read or is not a key of the expected kind. The text (Chinese, for the user) names the
// file and says why; Reason() is the why alone.
class EKeyFileError : public Exception {
public:
    EKeyFileError(KeyKind kind, const std::string& path, std::string reason);
    const std::string& Reason() const { return reason_; }

private:
    std::string reason_;
};

std::string ComposeKeyFile(KeyKind kind, std::span<const std::uint8_t> blob);

// The blob the text holds; a text that is not a key file of this kind raises EKeyFileError.
std::vector<std::uint8_t> ParseKeyFile(KeyKind kind, std::string_view text, const std::string& path);

// Reads and parses the file; unreadable or not a key of this kind: EKeyFileError.
std::vector<std::uint8_t> ReadKeyFile(KeyKind kind, const std::string& path);

// Writes a new key file; an existing file of that name raises EFileOperationError and stays as it was.
void WriteNewKeyFile(KeyKind kind, const std::string& path, std::span<const std::uint8_t> blob);

}  // namespace signing
