#include "hostile_corpus.hpp"

#include "sample_data.hpp"
#include "zip_forge.hpp"

namespace ziptest {
namespace {

constexpr std::size_t kMaxComponent = 255;              // UTF-16 units
const std::string kMathematicalX = "\xF0\x9D\x92\xB3";  // U+1D4B3, two UTF-16 units

std::string repeated(const std::string& text, std::size_t times)
{
    std::string result;
    for (std::size_t i = 0; i < times; ++i) result += text;
    return result;
}

// An archive whose one hostile name comes after an ordinary "good.txt": the whole archive is refused before anything
// is written.
HostileArchive withName(const std::string& name)
{
    return {"name \"" + name + "\"",
            forgeArchive({{.name = kGoodName, .content = "replacement"}, {.name = name, .content = "evil"}}),
            zipcore::ErrorKind::Unsafe};
}

}  // namespace

std::vector<HostileArchive> hostileArchives()
{
    const std::string evil = kEvilName;
    std::vector<HostileArchive> archives;
    const std::vector<std::string> names = {"../" + evil,
                                            "..\\" + evil,
                                            "sub/../../" + evil,
                                            "sub\\..\\..\\" + evil,
                                            "/tmp/" + evil,
                                            "\\" + evil,
                                            "C:\\" + evil,
                                            "C:" + evil,
                                            "\\\\server\\share\\" + evil,
                                            "//server/share/" + evil,
                                            "good.txt:evil",
                                            std::string("CON"),
                                            std::string("NUL"),
                                            std::string("COM1"),
                                            std::string("aux.c"),
                                            std::string("nul.txt"),
                                            std::string("LPT1.log"),
                                            std::string(".."),
                                            std::string("."),
                                            std::string(""),
                                            std::string("../"),
                                            "evil\x01.txt",
                                            evil + ".",
                                            std::string("CLOCK$"),
                                            std::string("clock$.txt"),
                                            std::string(kMaxComponent + 1, 'x'),
                                            "sub/" + std::string(kMaxComponent + 1, 'x') + "/a.txt",
                                            repeated(kMathematicalX, kMaxComponent / 2 + 1)};
    for (const std::string& name : names) archives.push_back(withName(name));

    // Names that Windows takes for one file, with each other or with "good.txt": the last would silently win.
    const std::vector<std::vector<std::string>> collisions = {
        {"x.dll", "X.DLL"},
        {"a/x.dll", "b\\X.DLL"},
        {"sub/GOOD.TXT"},
        {"\xC3\x89t\xC3\xA9.txt", "\xC3\xA9T\xC3\x89.txt"},                // Été, éTÉ
        {"\xD0\x9F\xD1\x80\xD0\xB8.txt", "\xD0\xBF\xD0\xA0\xD0\x98.txt"},  // При, пРИ
        {"\xCE\xA3\xCE\x8A\xCE\xA3.txt", "\xCF\x83\xCE\xAF\xCF\x83.txt"},  // ΣΊΣ, σίσ
    };
    for (const std::vector<std::string>& names : collisions) {
        std::vector<ForgedEntry> entries = {{.name = kGoodName, .content = "replacement"}};
        std::string label = "names that meet on one Windows file:";
        for (const std::string& name : names) {
            entries.push_back({.name = name, .content = "one of two"});
            label += " " + name;
        }
        archives.push_back({label, forgeArchive(entries), zipcore::ErrorKind::Unsafe});
    }

    const std::string text = sampleText(20'000, 5);
    const std::string deflated = deflateRaw(text);

    archives.push_back(
        {"overlapping entries",
         forgeArchive({{.name = kGoodName, .content = text}, {.name = kGoodName, .sharesLocalHeaderOf = 0}}),
         zipcore::ErrorKind::Corrupt});
    archives.push_back({"central CRC differs from the local header",
                        forgeArchive({{.name = kGoodName, .content = text, .centralCrc = crcOf(text) ^ 1}}),
                        zipcore::ErrorKind::Corrupt});
    archives.push_back({"central size differs from the local header",
                        forgeArchive({{.name = kGoodName, .content = text, .centralUncompressedSize = 100}}),
                        zipcore::ErrorKind::Corrupt});
    archives.push_back({"central name differs from the local header",
                        forgeArchive({{.name = kGoodName, .content = text, .centralName = std::string("other.txt")}}),
                        zipcore::ErrorKind::Corrupt});
    archives.push_back({"bad CRC",
                        forgeArchive({{.name = "first.txt", .content = "first"},
                                      {.name = kGoodName, .content = text, .crc = crcOf(text) ^ 0x10}}),
                        zipcore::ErrorKind::Corrupt, /*firstLands=*/true});
    archives.push_back({"inflates past its declared size",
                        forgeArchive({{.name = kGoodName, .content = text, .uncompressedSize = 1000}}),
                        zipcore::ErrorKind::Corrupt});
    archives.push_back(
        {"deflate data cut short",
         forgeArchive({{.name = kGoodName, .content = text, .data = deflated.substr(0, deflated.size() / 2)}}),
         zipcore::ErrorKind::Corrupt});
    archives.push_back({"damaged deflate data",
                        forgeArchive({{.name = kGoodName, .content = text, .data = std::string(64, '\xFF')}}),
                        zipcore::ErrorKind::Corrupt});

    const std::string whole = forgeArchive({{.name = kGoodName, .content = text}});
    archives.push_back({"archive truncated", whole.substr(0, whole.size() - 30), zipcore::ErrorKind::NotZip});
    std::string dropped = whole;
    dropped.erase(40, 200);  // the end record now points past the central directory
    archives.push_back({"bytes missing in the middle", dropped, zipcore::ErrorKind::Corrupt});
    return archives;
}

}  // namespace ziptest
