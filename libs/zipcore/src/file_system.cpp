// The platform-independent half of the file-system layer: path text and temporary files.
#include "zipcore/file_system.hpp"

#include <cstdio>
#include <random>

#include "zipcore/error.hpp"

namespace zipcore {
namespace {

#ifdef _WIN32
constexpr std::string_view kSeparators = "\\/";
constexpr char kPreferredSeparator = '\\';
#else
constexpr std::string_view kSeparators = "/";
constexpr char kPreferredSeparator = '/';
#endif

bool endsWithSeparator(const std::string& path) {
    return !path.empty() && kSeparators.find(path.back()) != std::string_view::npos;
}

File createUniqueFile(const std::string& directory) {
    std::random_device entropy;
    std::mt19937 generator(entropy());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "~zip%08x.tmp", static_cast<unsigned>(generator()));
        const std::string path = joinPath(directory, name);
        if (fileInfo(path).exists) continue;
        try {
            return File::createNew(path);
        } catch (const Error&) {
            // Someone took the name between the test and the creation; a real failure repeats below.
            if (!fileInfo(path).exists) throw;
        }
    }
    throw Error(ErrorKind::Io, "cannot create a temporary file in " + directory);
}

}  // namespace

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    if (endsWithSeparator(directory)) return directory + name;
    return directory + kPreferredSeparator + name;
}

std::string directoryOf(const std::string& path) {
    const auto cut = path.find_last_of(kSeparators);
    if (cut == std::string::npos) return ".";
    if (cut == 0) return path.substr(0, 1);
#ifdef _WIN32
    if (cut == 2 && path[1] == ':') return path.substr(0, 3);  // "C:\x" lives in the root "C:\"
#endif
    return path.substr(0, cut);
}

std::string lastPathComponent(const std::string& path) {
    const auto cut = path.find_last_of(kSeparators);
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

TempFile::TempFile(const std::string& directory) : file_(createUniqueFile(directory)) {}

TempFile::~TempFile() {
    if (committed_) return;
    try {
        file_.close();
    } catch (...) {
        // The file is being discarded; a failing close changes nothing about that.
    }
    removeFile(file_.path());
}

void TempFile::commitAs(const std::string& finalPath) {
    file_.close();
    replaceFile(file_.path(), finalPath);
    committed_ = true;
}

}  // namespace zipcore
