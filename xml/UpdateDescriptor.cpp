#include "UpdateDescriptor.h"

namespace {

// Escapes the five markup characters, and writes tab and line breaks as references so that attribute-value
// normalisation cannot turn them into spaces.
std::string Escape(std::string_view value)
{
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        case '\t':
            escaped += "&#9;";
            break;
        case '\n':
            escaped += "&#10;";
            break;
        case '\r':
            escaped += "&#13;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// The line end the suite has always composed descriptors with: line feed first, then carriage return.
constexpr std::string_view LineEnd = "\n\r";

}  // namespace

std::string ComposeDescriptor(std::string_view version, const std::vector<PackageFile>& files)
{
    std::string text;
    text += "<update>";
    text += LineEnd;
    text += "  <version>" + Escape(version) + "</version>";
    text += LineEnd;
    text += "  <files>";
    text += LineEnd;
    for (const auto& file : files) {
        text += "   <file name=\"" + Escape(file.name) + "\" path=\"" + Escape(file.path) + "\"";
        if (file.sha256) text += " sha256=\"" + Escape(*file.sha256) + "\"";
        text += "/>";
        text += LineEnd;
    }
    text += "  </files>";
    text += LineEnd;
    text += "</update>";
    return text;
}

void SaveDescriptor(TXMLDocument& xml, const std::string& text, const std::string& path)
{
    xml.SetActive(false);
    xml.SetXMLText(text);
    xml.SetActive(true);
    xml.SaveToFile(path);
}

DescriptorReader::DescriptorReader(TXMLDocument& xml)
    : version_(xml.DocumentElement().ChildNodes("version").Text()), files_(xml.DocumentElement().ChildNodes("files"))
{
}

PackageFile DescriptorReader::File(int index) const
{
    const TXMLNode entry = files_.Child(index);
    return {entry.AttributeText("name"), entry.AttributeText("path"), entry.Attribute("sha256")};
}

std::vector<PackageFile> DescriptorReader::Files() const
{
    std::vector<PackageFile> files;
    for (int i = 0, count = FileCount(); i < count; ++i) files.push_back(File(i));
    return files;
}
