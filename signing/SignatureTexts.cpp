#include "SignatureTexts.h"

#include <cwctype>
#include <windows.h>

#include "FileBytes.h"
#include "Text.h"

namespace signing_text {

namespace {

constexpr std::string_view kNothingChanged = "升级已停止，没有做任何更改。";
constexpr std::string_view kAskForPackage = "请向升级包的提供者重新获取升级包。";

}  // namespace

std::string KeyFileUnusable(bool publicKey, const std::string& path, std::string_view reason)
{
    return std::string(publicKey ? "无法使用公钥文件 " : "无法使用私钥文件 ") + path + "：" + std::string(reason);
}

std::string WrongKeyKind(bool expectedPublic)
{
    return expectedPublic ? "这是私钥文件，而这里需要的是公钥文件" : "这是公钥文件，而这里需要的是私钥文件";
}

std::string NotAKeyFile(std::string_view expectedTitle)
{
    return "这不是升级密钥文件（第一行应当是“" + std::string(expectedTitle) + "”）";
}

std::string Unreadable(const EFileOperationError& error)
{
    if (error.NotFound()) return "文件不存在";
    if (error.Code() == ERROR_FILE_TOO_LARGE) return "文件太大，不是本程序写出的文件";
    return "无法读取：" + SystemReason(error.Code());
}

std::string CannotSign(const std::string& path, std::string_view reason)
{
    return "无法为 " + path + " 签名：" + std::string(reason) + "。";
}

std::string CannotWrite(const std::string& path, unsigned long code)
{
    return "无法写入 " + path + "：" + SystemReason(code) + "。";
}

std::string FileDiffers(std::string_view name, std::string_view reason)
{
    return "升级包中的文件“" + std::string(name) + "”与签名的升级说明不符：" + std::string(reason);
}

std::string RefusedNoSignature()
{
    return std::string(kNoSignature) + "。" + std::string(kNothingChanged) +
           "程序目录中有公钥 UpdateKey.pub，因此只安装用对应私钥签名的升级包。请向升级包的提供者索取签名的升级包。";
}

std::string RefusedSignatureMismatch()
{
    return std::string(kSignatureMismatch) + "。" + std::string(kNothingChanged) +
           "这个升级包可能被改动过，或者并非来自本软件的提供者。" + std::string(kAskForPackage);
}

std::string RefusedFileDiffers(std::string_view finding)
{
    return std::string(finding) + "。" + std::string(kNothingChanged) + "这个升级包可能已损坏或被改动过。" +
           std::string(kAskForPackage);
}

std::string RefusedKeyUnusable(std::string_view finding)
{
    return std::string(finding) + "。" + std::string(kNothingChanged) +
           "公钥无法使用时，为安全起见不安装任何升级包。请向软件的提供者重新获取 UpdateKey.pub，放入程序目录。";
}

std::string KeyFileExists(const std::string& path)
{
    return "文件 " + path + " 已经存在，不会覆盖它，也没有生成密钥。请换一个文件名，或者先移走这个文件。\n";
}

std::string KeyPairMade(const std::string& privatePath, const std::string& publicPath)
{
    return "已生成一对签名密钥。\n"
           "  私钥：" +
           privatePath +
           "（请妥善保管并备份，不要放进升级包或程序目录）\n"
           "  公钥：" +
           publicPath + "（以 UpdateKey.pub 为名放入用户的程序目录）\n";
}

std::string PackageGood(const std::string& packagePath, std::size_t fileCount)
{
    return "升级包 " + packagePath + " 验证通过：签名与公钥相符，" + std::to_string(fileCount) +
           " 个文件的 SHA-256 都与升级说明一致。\n";
}

std::string PackageRefused(const std::string& packagePath, std::string_view finding)
{
    return "升级包 " + packagePath + " 未通过验证：" + std::string(finding) + "。安装程序会拒绝安装它。\n";
}

std::string DescriptorUnreadable(std::string_view reason)
{
    return "其中的升级说明 Update.xml 无法读取（" + std::string(reason) + "）";
}

std::string PackageUnreadable(const std::string& packagePath, std::string_view reason)
{
    while (!reason.empty() && (reason.back() == '.' || reason.ends_with("。"))) {
        reason.remove_suffix(reason.back() == '.' ? 1 : std::string_view("。").size());
    }
    return "无法读取升级包 " + packagePath + "：" + std::string(reason) + "。\n";
}

}  // namespace signing_text
