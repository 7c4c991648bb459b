#include "install/InstallLayout.h"

#include "install/SafeNames.h"

namespace install_layout {

using namespace layout;

std::optional<std::string> ReservedByTheInstall(std::string_view name, std::string_view directory)
{
    const std::string_view temp = kTemp.substr(0, kTemp.size() - 1);
    if (SameFileName(name, kDescriptor)) return "文件名与升级说明文件 " + std::string(kDescriptor) + " 相同";
    if (SameFileName(name, kSignature)) return "文件名与签名文件 " + std::string(kSignature) + " 相同";
    if (!directory.empty() && SameFileName(directory.substr(0, directory.find('\\')), temp)) {
        return "路径指向升级程序自己的临时目录 " + std::string(temp);
    }
    if (directory.empty() && SameFileName(name, kPackage)) return "文件会覆盖升级包 " + std::string(kPackage);
    if (directory.empty() && SameFileName(name, temp)) {
        return "文件名与升级程序的临时目录 " + std::string(temp) + " 相同";
    }
    return std::nullopt;
}

}  // namespace install_layout
