#include "install/InstallTexts.h"

#include <windows.h>

#include "Text.h"
#include "ZipExtractor.h"
#include "install/InstallTransaction.h"

namespace install_text {

namespace {

constexpr std::string_view kNothingChanged = "升级已停止，没有做任何更改，可以再次运行升级。";
// For a refusal that running the upgrade again will not change.
constexpr std::string_view kStoppedNothingChanged = "升级已停止，没有做任何更改。";

std::string Quoted(std::string_view text)
{
    std::string quoted(1, '"');
    quoted += text;
    quoted += '"';
    return quoted;
}

// What the user is asked to do about a link that stands where the install works.
std::string LinkRefused(std::string_view path)
{
    return std::string(path) +
           " 是一个链接（符号链接或目录联接）。升级程序不会经由链接删除或移动文件，以免改动链接指向的内容。"
           "请删除这个链接本身（不要删除它指向的内容），然后再次点击“开始升级”。";
}

std::string Reason(unsigned long code)
{
    return code == kErrorLinkInTheWay ? "这是一个链接，升级程序不会经由它删除或移动文件" : SystemReason(code);
}

std::string Holders(const std::vector<std::string>& holders)
{
    if (holders.empty()) return {};
    std::string list;
    for (const auto& holder : holders) list += (list.empty() ? "" : "、") + holder;
    return "正在使用这个文件的程序：" + list + "。";
}

std::string WhatFailed(const EInstallStepError& error)
{
    std::string what;
    switch (error.GetStep()) {
    case EInstallStepError::Step::WriteJournal:
        what = "无法写入升级日志 ";
        break;
    case EInstallStepError::Step::MakeDirectory:
        what = "无法创建目录 ";
        break;
    case EInstallStepError::Step::ReplaceFile:
        what = "无法替换文件 ";
        break;
    case EInstallStepError::Step::PlaceFile:
        what = "无法安装文件 ";
        break;
    case EInstallStepError::Step::FlushFile:
        what = "无法把文件写入磁盘 ";
        break;
    }
    return what + error.Path() + "：" + Reason(error.Code()) + "。";
}

std::string WhatCouldNotBeRestored(const ERollbackError& error)
{
    if (error.Code() == ERROR_FILE_CORRUPT) return "升级日志 " + error.Path() + " 已损坏，无法据此撤销。";
    return "无法还原 " + error.Path() + "：" + Reason(error.Code()) + "。";
}

}  // namespace

std::string Upgrading(std::string_view fileName)
{
    return "正在升级  " + std::string(fileName) + "...";
}

std::string RecoveryFailed(const ERollbackError& error)
{
    if (error.Code() == kErrorLinkInTheWay) return LinkRefused(error.Path());
    const std::string next = error.Code() == ERROR_FILE_CORRUPT
                                 ? "被替换的文件的备份在它所在的目录中，请联系技术支持。"
                                 : "请关闭正在使用这个文件的程序，然后再次点击“开始升级”。";
    return "上次的升级被中断，撤销它的更改时出错：" + WhatCouldNotBeRestored(error) + next;
}

std::string InstalledPackageRemoved(std::string_view packagePath)
{
    return std::string(kPreviousUpdateCompleted) + "升级包 " + std::string(packagePath) +
           " 已经安装过，不会再次安装，现已将它删除。";
}

std::string InstalledPackageNotRemoved(const EFileOperationError& error)
{
    return std::string(kPreviousUpdateCompleted) + "升级包 " + error.Path() +
           " 已经安装过，不会再次安装，但仍然无法删除它：" + Reason(error.Code()) +
           "。请关闭正在使用它的程序，然后再次点击“开始升级”，或者手动删除它。";
}

std::string LockNotTaken(std::string_view path, unsigned long code)
{
    return "无法创建 " + std::string(path) + "：" + SystemReason(code) + "。" + std::string(kNothingChanged);
}

std::string ElevationDeclined(bool build)
{
    if (build) {
        return "在此文件夹中打包需要管理员权限。没有生成升级包。请再次按 F2，并在 Windows 询问是否允许更改时选择“是”。";
    }
    return "在此文件夹中升级需要管理员权限。" + std::string(kStoppedNothingChanged) +
           "请再次点击“开始升级”，并在 Windows 询问是否允许更改时选择“是”。";
}

std::string ElevationFailed(bool build, unsigned long code)
{
    const std::string cannotStart = "需要管理员权限，但无法以管理员身份启动升级程序：" + SystemReason(code) + "。";
    if (build) return "在此文件夹中打包" + cannotStart + "没有生成升级包。";
    return "在此文件夹中升级" + cannotStart + std::string(kStoppedNothingChanged);
}

std::string PackageUnreadable(const EFileOperationError& error)
{
    return "无法读取升级包 " + error.Path() + "：" + Reason(error.Code()) + "。" + std::string(kNothingChanged);
}

std::string LeftoversNotRemoved(const EFileOperationError& error)
{
    if (error.Code() == kErrorLinkInTheWay) return "升级已停止，没有做任何更改。" + LinkRefused(error.Path());
    return "无法删除上次升级留下的 " + error.Path() + "：" + SystemReason(error.Code()) + "。" +
           std::string(kNothingChanged);
}

std::string StagingNotMade(const EFileOperationError& error)
{
    return "无法创建解压目录 " + error.Path() + "：" + SystemReason(error.Code()) + "。" + std::string(kNothingChanged);
}

std::string ExtractionFailed(const EUnzipError& error)
{
    std::string text = "无法解压升级包";
    if (!error.Entry().empty()) text += "中的文件 " + error.Entry();
    if (!error.Reason().empty()) text += "：" + error.Reason();
    return text + "（unzip32.dll 错误 " + std::to_string(error.Result()) + "）。" + std::string(kNothingChanged);
}

std::string RefusedEntry(int index, const PackageFile& entry, std::string_view reason)
{
    return "升级说明中的第 " + std::to_string(index) + " 个文件不能安装（文件名 " + Quoted(entry.name) + "，路径 " +
           Quoted(entry.path) + "）：" + std::string(reason) + "。" + std::string(kNothingChanged);
}

std::string InstallFailed(const EInstallStepError& error, const std::vector<std::string>& holders)
{
    return WhatFailed(error) + Holders(holders) + std::string(kNothingChanged);
}

std::string InstallFailedNotUndone(const EInstallStepError& error, const std::vector<std::string>& holders,
                                   const ERollbackError& rollback)
{
    return WhatFailed(error) + Holders(holders) + "升级已停止，但撤销已做的更改时出错：" +
           WhatCouldNotBeRestored(rollback) +
           "请关闭正在使用这个文件的程序，然后再次点击“开始升级”：程序会先撤销这次未完成的升级。";
}

std::string PackageNotNewer(std::string_view installedVersion, std::string_view packageVersion)
{
    return "已安装的版本是 " + std::string(installedVersion) + "，这个升级包的版本是 " + std::string(packageVersion) +
           "，不比已安装的版本新，不能安装：签名的升级包只能升级到更高的版本。" + std::string(kStoppedNothingChanged);
}

std::string VersionNotDotted(std::string_view packageVersion)
{
    return "这个升级包的版本号 " + Quoted(packageVersion) +
           " 不是用点分隔的数字（例如 1.0.3），无法与已安装的版本比较，不能安装。" +
           std::string(kStoppedNothingChanged);
}

std::string VersionFloorUnreadable(std::string_view path, std::string_view reason)
{
    return "无法读取已安装版本的记录 " + std::string(path) + "：" + std::string(reason) +
           "。没有这个记录就无法确认升级包比已安装的版本新。" + std::string(kStoppedNothingChanged) +
           "请联系技术支持。";
}

std::string RefusedNotUndone(std::string_view finding, const ERollbackError& rollback)
{
    return std::string(finding) + "。升级已停止，但撤销已做的更改时出错：" + WhatCouldNotBeRestored(rollback) +
           "请再次点击“开始升级”：程序会先撤销这次未完成的升级。";
}

}  // namespace install_text
