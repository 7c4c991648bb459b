// ziptool: the archive core on the command line, for benchmarks, for replaying fuzzer finds, and for authors
// who want to look into a package. Archives are written flat, as the updater writes its packages.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "zipcore/entry_name.hpp"
#include "zipcore/error.hpp"
#include "zipcore/extract.hpp"
#include "zipcore/zip_reader.hpp"
#include "zipcore/zip_writer.hpp"

namespace {

constexpr const char* kUsage = "usage: ziptool create [-0] [--threads N] [--zip64] ARCHIVE FILE...\n"
                               "       ziptool list ARCHIVE\n"
                               "       ziptool test ARCHIVE\n"
                               "       ziptool extract ARCHIVE DIRECTORY\n";

struct UsageError {};

int create(const std::vector<std::string>& arguments)
{
    zipcore::WriterOptions options;
    std::size_t next = 0;
    for (; next < arguments.size() && arguments[next].starts_with("-"); ++next) {
        if (arguments[next] == "-0") {
            options.level = 0;
        } else if (arguments[next] == "--zip64") {
            options.forceZip64 = true;
        } else if (arguments[next] == "--threads" && next + 1 < arguments.size()) {
            options.threads = static_cast<unsigned>(std::stoul(arguments[++next]));
        } else {
            throw UsageError{};
        }
    }
    if (arguments.size() - next < 2) throw UsageError{};
    zipcore::ZipWriter writer(arguments[next], options);
    for (std::size_t i = next + 1; i < arguments.size(); ++i)
        writer.addFile(arguments[i], zipcore::entryNameForPath(arguments[i], true));
    writer.finish();
    return 0;
}

const char* methodName(std::uint16_t method)
{
    return method == 0 ? "stored" : "deflated";
}

int list(const std::string& archive)
{
    const zipcore::ZipReader reader = zipcore::ZipReader::open(archive);
    std::printf("%14s %14s %-8s %-16s %s\n", "size", "compressed", "method", "modified", "name");
    for (const zipcore::Entry& entry : reader.entries()) {
        const auto d = entry.modified.date;
        const auto t = entry.modified.time;
        std::printf("%14llu %14llu %-8s %04d-%02d-%02d %02d:%02d %s\n",
                    static_cast<unsigned long long>(entry.uncompressedSize),
                    static_cast<unsigned long long>(entry.compressedSize), methodName(entry.method), 1980 + (d >> 9),
                    (d >> 5) & 15, d & 31, t >> 11, (t >> 5) & 63, zipcore::printableName(entry.name).c_str());
    }
    std::printf("%zu entries\n", reader.entries().size());
    return 0;
}

int test(const std::string& archive)
{
    const zipcore::ZipReader reader = zipcore::ZipReader::open(archive);
    const std::size_t tested = zipcore::testEntries(reader);
    std::printf("no errors in %zu files of %s\n", tested, archive.c_str());
    return 0;
}

int extract(const std::string& archive, const std::string& directory)
{
    const zipcore::ZipReader reader = zipcore::ZipReader::open(archive);
    const zipcore::ExtractSummary summary = zipcore::extractFlat(reader, directory);
    std::printf("%zu files, %llu bytes extracted\n", summary.filesWritten,
                static_cast<unsigned long long>(summary.bytesWritten));
    return 0;
}

int run(const std::vector<std::string>& arguments)
{
    if (arguments.empty()) throw UsageError{};
    const std::string& command = arguments[0];
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    if (command == "create") return create(rest);
    if (command == "list" && rest.size() == 1) return list(rest[0]);
    if (command == "test" && rest.size() == 1) return test(rest[0]);
    if (command == "extract" && rest.size() == 2) return extract(rest[0], rest[1]);
    throw UsageError{};
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError&) {
        std::fputs(kUsage, stderr);
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ziptool: %s\n", error.what());
        return 2;
    }
}
