#include "hostile_corpus.hpp"

#include "sample_data.hpp"
#include "zip_forge.hpp"

namespace ziptest {
namespace {

// An archive whose one hostile name comes after an ordinary "good.txt": the whole archive is refused.
HostileArchive withName(const std::string& name) {
    return {"name \"" + name + "\"",
            forgeArchive({{.name = kGoodName, .content = "replacement"}, {.name = name, .content = "evil"}}),
            Refusal::BeforeWriting};
}

}  // namespace

std::vector<HostileArchive> hostileArchives() {
    const std::string evil = kEvilName;
    std::vector<HostileArchive> archives;
    const std::vector<std::string> names = {
         "../" + evil, "..\\" + evil, "sub/../../" + evil, "sub\\..\\..\\" + evil, "/tmp/" + evil, "\\" + evil,
          "C:\\" + evil, "C:" + evil, "\\\\server\\share\\" + evil, "//server/share/" + evil, "good.txt:evil",
          std::string("CON"), std::string("NUL"), std::string("COM1"), std::string("aux.c"), std::string("nul.txt"),
          std::string("LPT1.log"), std::string(".."), std::string("."), std::string(""), std::string("../"),
          "evil\x01.txt", evil + "."};
    for (const std::string& name : names) archives.push_back(withName(name));

    const std::string text = sampleText(20'000, 5);
    const std::string deflated = deflateRaw(text);

    archives.push_back({"overlapping entries",
                        forgeArchive({{.name = kGoodName, .content = text}, {.name = kGoodName, .sharesLocalHeaderOf = 0}}),
                        Refusal::BeforeWriting});
    archives.push_back({"central CRC differs from the local header",
                        forgeArchive({{.name = kGoodName, .content = text, .centralCrc = crcOf(text) ^ 1}}),
                        Refusal::BeforeWriting});
    archives.push_back({"central size differs from the local header",
                        forgeArchive({{.name = kGoodName, .content = text, .centralUncompressedSize = 100}}),
                        Refusal::BeforeWriting});
    archives.push_back({"central name differs from the local header",
                        forgeArchive({{.name = kGoodName, .content = text, .centralName = std::string("other.txt")}}),
                        Refusal::BeforeWriting});
    archives.push_back({"bad CRC",
                        forgeArchive({{.name = "first.txt", .content = "first"},
                                      {.name = kGoodName, .content = text, .crc = crcOf(text) ^ 0x10}}),
                        Refusal::WhileWriting});
    archives.push_back({"inflates past its declared size",
                        forgeArchive({{.name = kGoodName, .content = text, .uncompressedSize = 1000}}),
                        Refusal::WhileWriting});
    archives.push_back({"deflate data cut short",
                        forgeArchive({{.name = kGoodName, .content = text, .data = deflated.substr(0, deflated.size() / 2)}}),
                        Refusal::WhileWriting});
    archives.push_back({"damaged deflate data",
                        forgeArchive({{.name = kGoodName, .content = text, .data = std::string(64, '\xFF')}}),
                        Refusal::WhileWriting});

    const std::string whole = forgeArchive({{.name = kGoodName, .content = text}});
    archives.push_back({"archive truncated", whole.substr(0, whole.size() - 30), Refusal::NotAnArchive});
    std::string dropped = whole;
    dropped.erase(40, 200);  // the end record now points past the central directory
    archives.push_back({"bytes missing in the middle", dropped, Refusal::BeforeWriting});
    return archives;
}

}  // namespace ziptest
