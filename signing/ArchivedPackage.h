// A package still in its archive, read with the ZIP core as the install would find it unpacked: every entry
// under the last component of its name, a later entry of the same name (in any letter case) in place of an
// earlier one.
#pragma once

#include <map>
#include <string>

#include "SignatureCheck.h"
#include "zipcore/zip_reader.hpp"

class ArchivedPackage final : public signing::PackageContents {
public:
    // An archive that cannot be read raises zipcore::Error.
    explicit ArchivedPackage(const std::string& path);

    bool Holds(const std::string& name) const { return Find(name) != nullptr; }

    std::optional<std::vector<std::uint8_t>> Signature() const override;
    std::vector<std::uint8_t> Descriptor() const override;  // empty when the package holds no Update.xml
    std::optional<signing::Digest> PayloadSha256(const std::string& name) const override;

private:
    const zipcore::Entry* Find(const std::string& name) const;
    std::vector<std::uint8_t> Bytes(const zipcore::Entry& entry) const;

    zipcore::ZipReader reader_;
    std::map<std::string, const zipcore::Entry*> byName_;  // keyed by zipcore::fileNameKey of the flat name
};

namespace signing {

// The package cannot be read as a package: what() is the reason alone.
class EPackageUnreadable : public Exception {
public:
    using Exception::Exception;
};

// UpdateKey verify's checks on a package in its archive, the install's own: the signature over Update.xml under
// this key, then every payload against its signed digest. Returns how many files the descriptor lists. Raises
// EPackageNotTrusted for a package the install would refuse, EPackageUnreadable for one that cannot be read (no
// archive, no Update.xml, a descriptor that does not parse). Needs COM on the calling thread, for the descriptor.
std::size_t CheckArchivedPackage(const std::string& packagePath, std::span<const std::uint8_t> publicKey);

}  // namespace signing
