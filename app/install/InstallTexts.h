// Everything the install flow says to the user, in one place: the status line and the message boxes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "UpdateDescriptor.h"

class EUnzipError;
class EFileOperationError;
class EInstallStepError;
class ERollbackError;

namespace install_text {

// The texts the suite's users and support staff know, kept byte for byte.
inline constexpr std::string_view kCloseProgramsFirst = "请先关闭正在运行的程序!";
inline constexpr std::string_view kNoPackage = "未检查到升级程序!";
inline constexpr std::string_view kPreparing = "正在准备升级，请稍候...";
inline constexpr std::string_view kIncomplete = "升级程序不完整!";
inline constexpr std::string_view kUpdatingVersion = "正在更新版本号...";
inline constexpr std::string_view kSucceeded = "升级成功!";

// The status line while a file is installed: "正在升级  " + name + "...".
std::string Upgrading(std::string_view fileName);

// Another copy of the updater is installing or building in this program directory.
inline constexpr std::string_view kAnotherUpdaterRunning = "另一个升级程序正在运行，请等它结束后再试。";
// The lock that keeps a second copy out could not be made.
std::string LockNotTaken(std::string_view path, unsigned long code);

// The program directory (or Output\) cannot be written without administrator rights, and the user declined the
// prompt (`build`: F2's run); or the elevated copy could not be started.
std::string ElevationDeclined(bool build);
std::string ElevationFailed(bool build, unsigned long code);

// Recovery at the start of a click.
inline constexpr std::string_view kInterruptedUpdateUndone = "上次的升级被中断，已撤销它所做的全部更改。";
inline constexpr std::string_view kPreviousUpdateCompleted = "上次的升级已经完成。";
std::string RecoveryFailed(const ERollbackError& error);
// A committed install is finished and the package it installed is still there: deleted now, or still not.
std::string InstalledPackageRemoved(std::string_view packagePath);
std::string InstalledPackageNotRemoved(const EFileOperationError& error);

// The package could not be read (to tell which package it is).
std::string PackageUnreadable(const EFileOperationError& error);
// What an earlier run left in the staging folder could not be removed.
std::string LeftoversNotRemoved(const EFileOperationError& error);
// The folder the staging folder goes in could not be made.
std::string StagingNotMade(const EFileOperationError& error);
// unzip32.dll could not unpack the package.
std::string ExtractionFailed(const EUnzipError& error);

// An entry of the descriptor refused before anything moved; index counts from 1.
std::string RefusedEntry(int index, const PackageFile& entry, std::string_view reason);

// An install step failed and everything was undone; `holders` are the programs that hold the file, if known.
std::string InstallFailed(const EInstallStepError& error, const std::vector<std::string>& holders);
// An install step failed and undoing it failed too.
std::string InstallFailedNotUndone(const EInstallStepError& error, const std::vector<std::string>& holders,
                                   const ERollbackError& rollback);

// Signed packages only go forward: one no newer than the version installed last, one whose version cannot be
// ordered, and a record of that version that cannot be read are refused.
std::string PackageNotNewer(std::string_view installedVersion, std::string_view packageVersion);
std::string VersionNotDotted(std::string_view packageVersion);
std::string VersionFloorUnreadable(std::string_view path, std::string_view reason);

// A placed file differed from its signed digest (the finding says which) and undoing the install failed.
std::string RefusedNotUndone(std::string_view finding, const ERollbackError& rollback);

}  // namespace install_text
