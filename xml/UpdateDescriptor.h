// The update descriptor: the XML document inside every update package that names the version the package brings
// and, in install order, each payload file with its destination directory. The package build writes it and the
// install flow reads it; both go through here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "XmlDocument.h"

struct PackageFile {
    std::string name;  // bare file name, as stored in the package
    std::string path;  // destination directory relative to the program directory, ending in '\', or empty
    // Lower-case hex SHA-256 of the payload: written by a signed build, checked by an install that holds a public
    // key. Packages built without a key have none, and older installers ignore it.
    std::optional<std::string> sha256 = std::nullopt;

    friend bool operator==(const PackageFile&, const PackageFile&) = default;
};

// The descriptor's text, one line per row with "\n\r" after every line but the last:
//   <update>
//     <version>VERSION</version>
//     <files>
//      <file name="NAME" path="PATH"/>      (one per file, in order; with sha256="HEX" after path when given)
//     </files>
//   </update>
// Values are escaped, so any name or path survives the parse.
std::string ComposeDescriptor(std::string_view version, const std::vector<PackageFile>& files);

// Parses the composed text into the document (replacing what it held) and saves it to the file as UTF-8 with an
// XML declaration. A text the parser refuses raises EDOMParseError and leaves the document inactive.
void SaveDescriptor(TXMLDocument& xml, const std::string& text, const std::string& path);

// Reads a descriptor from an active document. The version is read at once (a missing element reads as empty);
// the entries when asked for.
class DescriptorReader {
public:
    explicit DescriptorReader(TXMLDocument& xml);

    const std::string& Version() const { return version_; }
    int FileCount() const { return files_.ChildCount(); }
    // The entry at index (from 0), whatever its element name; a missing name or path raises EVariantTypeCastError,
    // a missing sha256 reads as none.
    PackageFile File(int index) const;
    // Every entry, in order; the first one with a missing name or path raises EVariantTypeCastError.
    std::vector<PackageFile> Files() const;

private:
    std::string version_;
    TXMLNode files_;
};
