#include "install/SafeNames.h"

#include <algorithm>
#include <vector>
#include <windows.h>

#include "Text.h"
#include "zipcore/entry_name.hpp"
#include "zipcore/name_match.hpp"

namespace {

// Why one name (of a file or of a directory) cannot be used on Windows as it stands.
std::optional<std::string> NameProblem(std::string_view name)
{
    if (name.empty()) return "名称为空";
    if (name == "." || name == "..") return "名称不能是 . 或 ..";
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos) {
            return "名称含有 Windows 不允许的字符";
        }
    }
    if (name.back() == '.' || name.back() == ' ') return "名称不能以点或空格结尾";
    if (zipcore::isReservedDeviceName(name)) return "名称是 Windows 的设备名";
    return std::nullopt;
}

std::vector<std::string_view> Components(std::string_view path)
{
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t separator = path.find('\\', start);
        parts.push_back(
            path.substr(start, separator == std::string_view::npos ? std::string_view::npos : separator - start));
        if (separator == std::string_view::npos) return parts;
        start = separator + 1;
    }
}

}  // namespace

std::optional<std::string> FileNameProblem(std::string_view name)
{
    if (name.empty()) return std::string("文件名为空");
    if (name.find_first_of("\\/:") != std::string_view::npos) return std::string("文件名不能含有 \\、/ 或 :");
    if (auto problem = NameProblem(name)) return "文件名无效：" + *problem;
    return std::nullopt;
}

std::string NormalizeDirectory(std::string_view path)
{
    std::string directory(path);
    std::replace(directory.begin(), directory.end(), '/', '\\');
    if (!directory.empty() && directory.back() != '\\') directory += '\\';
    return directory;
}

std::optional<std::string> DirectoryProblem(std::string_view path)
{
    if (path.empty()) return std::nullopt;
    const std::string directory = NormalizeDirectory(path);
    if (directory.front() == '\\' || directory.find(':') != std::string::npos) {
        return std::string("路径必须是程序目录下的相对路径，不能带盘符或以 \\ 开头");
    }
    const auto parts = Components(std::string_view(directory).substr(0, directory.size() - 1));
    for (const std::string_view part : parts) {
        if (part == "..") return std::string("路径不能含有 .. 目录");
    }
    for (const std::string_view part : parts) {
        if (auto problem = NameProblem(part)) return "路径中的目录名 \"" + std::string(part) + "\" 无效：" + *problem;
    }
    return std::nullopt;
}

bool IsSafeRelativePath(std::string_view path)
{
    if (path.empty() || path.back() == '\\') return false;
    for (const std::string_view part : Components(path)) {
        if (NameProblem(part)) return false;
    }
    return true;
}

bool SameFileName(std::string_view a, std::string_view b)
{
    return zipcore::sameFileName(a, b);
}
