#include "install/PackagePlan.h"

#include <optional>

#include "Notice.h"
#include "Paths.h"
#include "install/InstallLayout.h"
#include "install/InstallTexts.h"
#include "install/SafeNames.h"

namespace {

std::optional<std::string> Problem(const std::vector<PlannedFile>& earlier, const PackageFile& entry,
                                   const PlannedFile& file, const std::string& programDirectory, bool signing)
{
    if (auto problem = FileNameProblem(entry.name)) return problem;
    if (auto problem = DirectoryProblem(entry.path)) return problem;
    if (auto reserved = install_layout::ReservedByTheInstall(entry.name, file.directory, signing)) return reserved;
    for (size_t i = 0; i < earlier.size(); ++i) {
        if (SameFileName(earlier[i].name, entry.name)) {
            return "与第 " + std::to_string(i + 1) + " 个文件同名";
        }
    }
    if (!FileExists(programDirectory + std::string(layout::kStaging) + entry.name)) {
        return std::string("升级包中没有这个文件");
    }
    if (DirectoryExists(programDirectory + file.directory + entry.name)) {
        return std::string("目标位置已有同名的目录");
    }
    return std::nullopt;
}

}  // namespace

std::vector<PlannedFile> PlanInstall(const std::vector<PackageFile>& entries, const std::string& programDirectory,
                                     bool signing)
{
    std::vector<PlannedFile> plan;
    for (const PackageFile& entry : entries) {
        const PlannedFile file{entry.name, NormalizeDirectory(entry.path)};
        if (auto problem = Problem(plan, entry, file, programDirectory, signing)) {
            const int index = static_cast<int>(plan.size()) + 1;
            throw ERefusal(ErrorNotice(install_text::RefusedEntry(index, entry, *problem)));
        }
        plan.push_back(file);
    }
    return plan;
}
