// Everything the signature checks and the key tool say, in one place. The install's four refusals say what is
// wrong, that nothing was changed, and what to do; the tool says what is wrong in the same words.
#pragma once

#include <string>
#include <string_view>

class EFileOperationError;

namespace signing_text {

// Why a key file cannot be used.
std::string KeyFileUnusable(bool publicKey, const std::string& path, std::string_view reason);
std::string WrongKeyKind(bool expectedPublic);
std::string NotAKeyFile(std::string_view expectedTitle);
inline constexpr std::string_view kKeyFileTrailingText = "密钥之后还有多余的内容，这不是本程序写出的密钥文件";
inline constexpr std::string_view kKeyDamaged = "其中的密钥数据已损坏（长度或内容不对）";

// Why a file cannot be read: "文件不存在", or the system's reason with its number.
std::string Unreadable(const EFileOperationError& error);

// The author's side: a signature that cannot be made, a file that cannot be written.
std::string CannotSign(const std::string& path, std::string_view reason);
std::string CannotWrite(const std::string& path, unsigned long code);

// What is wrong with a package, for the install's message and the tool's.
inline constexpr std::string_view kNoSignature = "升级包没有签名（其中没有 Update.sig）";
inline constexpr std::string_view kSignatureMismatch =
    "升级包的签名与公钥不符：它不是用与这个公钥对应的私钥签名的，或者签名之后升级说明 Update.xml 被改动过";
std::string FileDiffers(std::string_view name, std::string_view reason);
inline constexpr std::string_view kContentDiffers = "内容与升级说明中记录的 SHA-256 不同";
inline constexpr std::string_view kNoSha256 = "签名的升级说明没有记录它的 SHA-256";
inline constexpr std::string_view kPayloadMissing = "升级包中没有这个文件";

// The install's refusals: the finding above, then that nothing changed and what to do.
std::string RefusedNoSignature();
std::string RefusedSignatureMismatch();
std::string RefusedFileDiffers(std::string_view finding);
std::string RefusedKeyUnusable(std::string_view finding);

// UpdateKey.exe.
inline constexpr std::string_view kUsage =
    "用法：\n"
    "  UpdateKey new 私钥文件 公钥文件        生成一对新的签名密钥（不会覆盖已有的文件）\n"
    "  UpdateKey verify 升级包 公钥文件       按安装时的方式检查升级包的签名和每个文件的 SHA-256\n";
std::string KeyFileExists(const std::string& path);
std::string KeyPairMade(const std::string& privatePath, const std::string& publicPath);
std::string PackageGood(const std::string& packagePath, std::size_t fileCount);
std::string PackageRefused(const std::string& packagePath, std::string_view finding);
std::string PackageUnreadable(const std::string& packagePath, std::string_view reason);
inline constexpr std::string_view kNoDescriptor = "其中没有升级说明 Update.xml";
std::string DescriptorUnreadable(std::string_view reason);

}  // namespace signing_text
