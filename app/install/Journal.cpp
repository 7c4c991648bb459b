#include "install/Journal.h"

#include <charconv>
#include <cstdio>
#include <zlib.h>

#include "Paths.h"

namespace {

constexpr std::string_view kFormat = "TaviloInstallJournal";
// 2: unpacked files come from the staging folder, and the commit names the installed package.
constexpr std::string_view kFormatVersion = "2";

constexpr std::string_view kMakeDirectory = "mkdir";
constexpr std::string_view kMove = "move";
constexpr std::string_view kCommit = "commit";
constexpr std::string_view kUndone = "undone";

std::string Escape(std::string_view field)
{
    std::string escaped;
    for (const char c : field) {
        switch (c) {
        case '%':
            escaped += "%25";
            break;
        case '\t':
            escaped += "%09";
            break;
        case '\n':
            escaped += "%0A";
            break;
        case '\r':
            escaped += "%0D";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::optional<std::string> Unescape(std::string_view field)
{
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            text += field[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= field.size()) return std::nullopt;
        const auto [end, error] = std::from_chars(field.data() + i + 1, field.data() + i + 3, value, 16);
        if (error != std::errc() || end != field.data() + i + 3) return std::nullopt;
        text += static_cast<char>(value);
        i += 2;
    }
    return text;
}

std::string Checksum(std::string_view text)
{
    const uLong crc =
        crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(crc));
    return hex;
}

std::vector<std::string_view> SplitTabs(std::string_view text)
{
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t tab = text.find('\t', start);
        parts.push_back(text.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) return parts;
        start = tab + 1;
    }
}

unsigned ParseSequence(const std::string& text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0) {
        throw EJournalCorrupt("the journal names an impossible step \"" + text + "\"");
    }
    return value;
}

}  // namespace

std::string EncodeRecord(const std::vector<std::string>& fields)
{
    std::string line;
    for (const auto& field : fields) {
        if (!line.empty()) line += '\t';
        line += Escape(field);
    }
    return line + '\t' + Checksum(line) + '\n';
}

std::optional<std::vector<std::string>> DecodeRecord(std::string_view line)
{
    const size_t lastTab = line.rfind('\t');
    if (lastTab == std::string_view::npos) return std::nullopt;
    const std::string_view body = line.substr(0, lastTab);
    if (line.substr(lastTab + 1) != Checksum(body)) return std::nullopt;
    std::vector<std::string> fields;
    for (const std::string_view part : SplitTabs(body)) {
        auto field = Unescape(part);
        if (!field) return std::nullopt;
        fields.push_back(std::move(*field));
    }
    return fields;
}

JournalContents ParseJournal(std::string_view text)
{
    JournalContents contents;
    bool headerSeen = false;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos) break;  // the last write was cut short
        const auto fields = DecodeRecord(text.substr(start, end - start));
        if (!fields) break;  // torn by a crash: nothing after it was ever flushed as whole records
        start = end + 1;

        const std::vector<std::string>& f = *fields;
        if (!headerSeen) {
            if (f.size() != 2 || f[0] != kFormat || f[1] != kFormatVersion) {
                throw EJournalCorrupt("not an install journal of this program");
            }
            headerSeen = true;
        } else if ((f.size() == 3 && f[0] == kMakeDirectory) || (f.size() == 4 && f[0] == kMove)) {
            // Nothing is done after a commit but tidying up, which the journal does not record.
            if (contents.committedVersion) throw EJournalCorrupt("the journal records a step after its commit");
            const bool move = f[0] == kMove;
            contents.steps.push_back({move ? JournalStep::Kind::Move : JournalStep::Kind::MakeDirectory,
                                      ParseSequence(f[1]), f[2], move ? f[3] : std::string()});
        } else if (f.size() == 3 && f[0] == kCommit) {
            contents.committedVersion = f[1];
            contents.committedPackage = f[2];
        } else if (f.size() == 2 && f[0] == kUndone) {
            // A commit whose write was reported as failed may still have reached the disk, and the rollback that
            // followed recorded its steps after it: the install was undone, not committed.
            contents.committedVersion.reset();
            contents.committedPackage.clear();
            contents.undone.insert(ParseSequence(f[1]));
        } else {
            throw EJournalCorrupt("the journal holds a record this program does not know");
        }
        contents.intactLength = start;
    }
    return contents;
}

JournalContents ReadJournal(const std::string& path)
{
    const UniqueHandle file =
        OwnHandle(CreateFileW(ToApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw EFileOperationError("Cannot open", path, GetLastError());
    std::string text;
    char buffer[16384];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) {
            throw EFileOperationError("Cannot read", path, GetLastError());
        }
        if (read == 0) break;
        text.append(buffer, read);
    }
    return ParseJournal(text);
}

JournalWriter::JournalWriter(FileOperations& files, std::string path)
    : files_(&files), path_(std::move(path)), file_(files.CreateNew(path_))
{
    try {
        Append({std::string(kFormat), std::string(kFormatVersion)});
    } catch (const EFileOperationError&) {
        // A journal without its header holds nothing; it must not wait for the next click as if it did.
        file_.reset();
        try {
            files.Delete(path_);
        } catch (const EFileOperationError&) {  // one found later reads as empty: nothing to undo
        }
        throw;
    }
}

JournalWriter::JournalWriter(FileOperations& files, std::string path, unsigned long long intactLength)
    : files_(&files), path_(std::move(path)), file_(files.OpenAndTruncate(path_, intactLength)), length_(intactLength)
{
    // A journal torn inside its header has no whole record at all: it starts again from the header.
    if (intactLength == 0) Append({std::string(kFormat), std::string(kFormatVersion)});
}

void JournalWriter::MakeDirectory(unsigned sequence, const std::string& directory)
{
    Append({std::string(kMakeDirectory), std::to_string(sequence), directory});
}

void JournalWriter::Move(unsigned sequence, const std::string& from, const std::string& to)
{
    Append({std::string(kMove), std::to_string(sequence), from, to});
}

void JournalWriter::Commit(const std::string& version, const std::string& packageSha256)
{
    Append({std::string(kCommit), version, packageSha256});
}

void JournalWriter::Undone(unsigned sequence)
{
    Append({std::string(kUndone), std::to_string(sequence)});
}

void JournalWriter::MakeWhole()
{
    if (!torn_) return;
    files_->CutBack(file_.get(), path_, length_);
    torn_ = false;
}

void JournalWriter::Append(const std::vector<std::string>& fields)
{
    MakeWhole();
    const std::string record = EncodeRecord(fields);
    try {
        files_->WriteDurably(file_.get(), path_, record);
    } catch (const EFileOperationError&) {
        // A failed write may have reached the disk in part or in whole: what comes next must not follow it.
        torn_ = true;
        try {
            MakeWhole();
        } catch (const EFileOperationError&) {  // tried again before anything else is written
        }
        throw;
    }
    length_ += record.size();
}
