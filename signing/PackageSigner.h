// The author's side: the signature Update.sig over the exact bytes of a file (Update.xml as it will be stored in
// the package), made with the private key from its file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Errors.h"

namespace signing {

// The signature could not be made or written; the text (Chinese, for the author) says why.
class ESigningError : public Exception {
public:
    using Exception::Exception;
};

// The private key from its file, checked as early as a build wants to know: a missing, unreadable or wrong file
// raises ESigningError before anything is written.
class PackageSigner {
public:
    explicit PackageSigner(const std::string& privateKeyPath);
    // Writes the 64-byte signature of the file's bytes to signaturePath, replacing what was there.
    void SignFile(const std::string& path, const std::string& signaturePath) const;
    // The public half of the key, as UpdateKey.pub holds it, to check what was signed the way every key holder will.
    std::vector<std::uint8_t> PublicKey() const;

private:
    std::vector<std::uint8_t> privateKey_;
};

}  // namespace signing
