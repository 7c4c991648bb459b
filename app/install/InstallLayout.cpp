#include "install/InstallLayout.h"

#include <array>

#include "install/SafeNames.h"

namespace install_layout {

using namespace layout;

namespace {

constexpr std::string_view WithoutSeparator(std::string_view folder)
{
    return folder.substr(0, folder.size() - 1);
}

struct OwnItem {
    enum class Covers { ItAndAllInIt, OnlyAFile };

    std::string_view path;
    Covers covers;
    std::string_view what;
};

// Everything the updater itself keeps in the program directory. What later needs a place of its own (a lock, a
// log) is added here, and the build, the install and the recovery all keep out of it.
constexpr std::array kOwnItems = {
    OwnItem{WithoutSeparator(kStaging), OwnItem::Covers::ItAndAllInIt, "升级程序自己的临时目录"},
    OwnItem{WithoutSeparator(kJournal), OwnItem::Covers::ItAndAllInIt, "升级程序自己的临时目录"},
    OwnItem{kInstalledDescriptor, OwnItem::Covers::ItAndAllInIt, "升级程序留下的升级说明"},
    OwnItem{kUpdateLock, OwnItem::Covers::ItAndAllInIt, "升级程序的锁文件"},
    OwnItem{kVersionFloor, OwnItem::Covers::ItAndAllInIt, "升级程序的版本记录"},
    OwnItem{kUpdateLog, OwnItem::Covers::ItAndAllInIt, "升级程序的日志文件"},
    OwnItem{kOlderUpdateLog, OwnItem::Covers::ItAndAllInIt, "升级程序的日志文件"},
    OwnItem{kPackage, OwnItem::Covers::OnlyAFile, "升级包"},
    OwnItem{WithoutSeparator(kTemp), OwnItem::Covers::OnlyAFile, "升级程序的临时目录"},
};

bool IsOrIsIn(std::string_view path, std::string_view item)
{
    if (path.size() > item.size() && path[item.size()] == '\\') path = path.substr(0, item.size());
    return SameFileName(path, item);
}

}  // namespace

std::optional<std::string> OwnedByTheUpdater(std::string_view path, bool isDirectory)
{
    for (const OwnItem& item : kOwnItems) {
        const bool owned = item.covers == OwnItem::Covers::ItAndAllInIt ? IsOrIsIn(path, item.path)
                                                                        : !isDirectory && SameFileName(path, item.path);
        if (owned) return "与" + std::string(item.what) + " " + std::string(item.path) + " 冲突";
    }
    return std::nullopt;
}

std::optional<std::string> ReservedByTheInstall(std::string_view name, std::string_view directory, bool signing)
{
    // The staging folder holds the descriptor (and a signed package's signature) under these names.
    if (SameFileName(name, kDescriptor)) return "文件名与升级说明文件 " + std::string(kDescriptor) + " 相同";
    if (signing && SameFileName(name, kSignature)) return "文件名与签名文件 " + std::string(kSignature) + " 相同";
    // Signed installs write the version record into the staging folder too.
    if (signing && SameFileName(name, kVersionFloor)) return "文件名与版本记录 " + std::string(kVersionFloor) + " 相同";
    if (!directory.empty()) {
        if (auto owned = OwnedByTheUpdater(WithoutSeparator(directory), true)) return "路径" + *owned;
    }
    if (auto owned = OwnedByTheUpdater(std::string(directory) + std::string(name), false)) return "文件" + *owned;
    return std::nullopt;
}

}  // namespace install_layout
