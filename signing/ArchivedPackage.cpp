#include "ArchivedPackage.h"

#include "EcdsaKeys.h"
#include "SignatureTexts.h"
#include "XmlDocument.h"
#include "zipcore/error.hpp"
#include "zipcore/entry_name.hpp"
#include "zipcore/name_match.hpp"

namespace {

// Hashes an entry's content as the reader streams it out.
class HashingSink final : public zipcore::ByteSink {
public:
    void write(const void* data, std::size_t length) override
    {
        hash_.Add(std::span(static_cast<const std::uint8_t*>(data), length));
    }
    signing::Digest Finish() { return hash_.Finish(); }

private:
    signing::Sha256 hash_;
};

}  // namespace

ArchivedPackage::ArchivedPackage(const std::string& path) : reader_(zipcore::ZipReader::open(path))
{
    for (const zipcore::Entry& entry : reader_.entries()) {
        if (entry.isDirectory()) continue;
        byName_[zipcore::fileNameKey(zipcore::safeFlatName(entry.name))] = &entry;
    }
}

const zipcore::Entry* ArchivedPackage::Find(const std::string& name) const
{
    const auto found = byName_.find(zipcore::fileNameKey(name));
    return found == byName_.end() ? nullptr : found->second;
}

std::vector<std::uint8_t> ArchivedPackage::Bytes(const zipcore::Entry& entry) const
{
    zipcore::VectorSink sink;
    reader_.read(entry, sink);
    return sink.bytes();
}

std::optional<std::vector<std::uint8_t>> ArchivedPackage::Signature() const
{
    const zipcore::Entry* entry = Find(std::string(signing::kSignatureName));
    if (entry == nullptr) return std::nullopt;
    // Not the size of a signature: present, and no signature of anything; not worth unpacking.
    if (entry->uncompressedSize != signing::kSignatureSize) return std::vector<std::uint8_t>{};
    return Bytes(*entry);
}

std::vector<std::uint8_t> ArchivedPackage::Descriptor() const
{
    const zipcore::Entry* entry = Find("Update.xml");
    return entry == nullptr ? std::vector<std::uint8_t>{} : Bytes(*entry);
}

std::optional<signing::Digest> ArchivedPackage::PayloadSha256(const std::string& name) const
{
    const zipcore::Entry* entry = Find(name);
    if (entry == nullptr) return std::nullopt;
    HashingSink sink;
    reader_.read(*entry, sink);
    return sink.Finish();
}

namespace signing {

std::size_t CheckArchivedPackage(const std::string& packagePath, std::span<const std::uint8_t> publicKey)
{
    try {
        const ArchivedPackage package(packagePath);
        if (!package.Holds("Update.xml")) throw EPackageUnreadable(std::string(signing_text::kNoDescriptor));
        // The signature first: a descriptor is parsed only once it is known to be the author's, and then the very
        // bytes that were checked, as the install parses them.
        CheckSignature(package, publicKey);
        const std::vector<std::uint8_t> descriptor = package.Descriptor();
        std::vector<PackageFile> entries;
        try {
            TXMLDocument xml;
            xml.LoadFromBytes(std::string(descriptor.begin(), descriptor.end()), "Update.xml");
            entries = DescriptorReader(xml).Files();
        } catch (const Exception& error) {
            throw EPackageUnreadable(signing_text::DescriptorUnreadable(error.what()));
        }
        CheckPayloads(package, entries);
        return entries.size();
    } catch (const zipcore::Error& error) {
        throw EPackageUnreadable(error.what());
    }
}

}  // namespace signing
