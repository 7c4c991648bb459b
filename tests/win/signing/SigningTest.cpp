// Signed packages: the check the install runs on an unpacked package, case by case, and UpdateKey.exe run as its
// authors run it, on good and bad inputs.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Driver.h"
#include "EcdsaKeys.h"
#include "FileBytes.h"
#include "KeyFiles.h"
#include "PackageSigner.h"
#include "SignatureCheck.h"
#include "UpdateDescriptor.h"
#include "zipcore/zip_writer.hpp"

namespace {

using driver::Narrow;
using driver::TempDir;
using signing::Check;

const std::map<std::string, std::string> kPayloads = {
    {"Tool.dll", std::string("MZ\0\x01 binary payload", 19)},
    {"说明.txt", "中文内容\r\n"},
};

std::string Sha256Hex(const std::string& bytes)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    return signing::Hex(signing::Sha256Of(std::span(data, bytes.size())));
}

std::string KeyText(signing::KeyKind kind, const std::vector<std::uint8_t>& blob)
{
    return signing::ComposeKeyFile(kind, blob);
}

// A program directory with the public key UpdateKey.pub and, in Staging\, a package unpacked as the install
// leaves it: the payloads, Update.xml with a sha256 on every entry, and Update.sig made with the matching private
// key. A second key pair, not the program's, lies beside it.
class SignedPackage {
public:
    SignedPackage()
    {
        signing::WriteNewKeyFile(signing::KeyKind::Private, Path(L"Author.key"), author_.privateBlob);
        signing::WriteNewKeyFile(signing::KeyKind::Public, Path(L"UpdateKey.pub"), author_.publicBlob);
        signing::WriteNewKeyFile(signing::KeyKind::Private, Path(L"Other.key"), other_.privateBlob);
        for (const auto& [name, bytes] : kPayloads) {
            dir.WriteFile(L"Staging\\" + driver::Widen(name), bytes);
            entries.push_back({name, "", Sha256Hex(bytes)});
        }
        WriteDescriptor();
        Sign(L"Author.key");
    }

    std::string Path(const std::wstring& relative) const { return Narrow(dir / relative); }

    void AppendToDescriptor(const std::string& text) const
    {
        dir.WriteFile(L"Staging\\Update.xml", dir.ReadFile(L"Staging\\Update.xml") + text);
    }
    void WriteDescriptor() const { dir.WriteFile(L"Staging\\Update.xml", ComposeDescriptor("2.0", entries)); }
    void Sign(const std::wstring& key) const
    {
        signing::PackageSigner(Path(key)).SignFile(Path(L"Staging\\Update.xml"), Path(L"Staging\\Update.sig"));
    }

    // The install's check, with the entries read back from Update.xml as the install reads them.
    void Check() const
    {
        TXMLDocument xml;
        xml.LoadFromFile(Path(L"Staging\\Update.xml"));
        const DescriptorReader reader(xml);
        std::vector<PackageFile> read;
        for (int i = 0; i < reader.FileCount(); ++i) read.push_back(reader.File(i));
        signing::CheckUnpackedPackage(Path(L"Staging\\Update.xml"), Path(L"Staging\\Update.sig"), Path(L"Staging\\"),
                                      read, Path(L"UpdateKey.pub"));
    }

    // The staging folder packed as Quellis.sky, as the author's build would have stored it.
    void Pack() const
    {
        zipcore::ZipWriter writer(Path(L"Quellis.sky"));
        for (const auto& [name, bytes] : kPayloads) writer.addFile(Path(L"Staging\\" + driver::Widen(name)), name);
        writer.addFile(Path(L"Staging\\Update.xml"), "Update.xml");
        if (dir.Exists(L"Staging\\Update.sig")) writer.addFile(Path(L"Staging\\Update.sig"), "Update.sig");
        writer.finish();
    }

    TempDir dir;
    std::vector<PackageFile> entries;
    signing::KeyPairBlobs author_ = signing::GenerateKeyPair();
    signing::KeyPairBlobs other_ = signing::GenerateKeyPair();
};

struct Case {
    const char* name;
    std::function<void(SignedPackage&)> change;
    std::optional<Check> refused;  // nothing: the package passes
    std::string subject = {};      // the file named, for FileDiffers
};

const std::vector<Case>& Cases()
{
    using K = signing::KeyKind;
    static const std::vector<Case> cases = {
        {"good", [](SignedPackage&) {}, std::nullopt},
        {"public key written with LF, a byte order mark and no final line end",
         [](SignedPackage& p) {
             std::string text = KeyText(K::Public, p.author_.publicBlob);
             text.erase(text.find('\r'), 1);
             text.resize(text.size() - 2);
             p.dir.WriteFile(L"UpdateKey.pub", "\xEF\xBB\xBF" + text);
         },
         std::nullopt},
        {"upper-case digest",
         [](SignedPackage& p) {
             for (auto& entry : p.entries)
                 for (auto& c : *entry.sha256) c = static_cast<char>(toupper(c));
             p.WriteDescriptor();
             p.Sign(L"Author.key");
         },
         std::nullopt},
        {"changed payload", [](SignedPackage& p) { p.dir.WriteFile(L"Staging\\说明.txt", "中文内容!\r\n"); },
         Check::FileDiffers, "说明.txt"},
        {"missing payload", [](SignedPackage& p) { p.dir.Remove(L"Staging\\Tool.dll"); }, Check::FileDiffers,
         "Tool.dll"},
        {"entry without sha256, signed",
         [](SignedPackage& p) {
             p.entries[1].sha256.reset();
             p.WriteDescriptor();
             p.Sign(L"Author.key");
         },
         Check::FileDiffers, "说明.txt"},
        {"changed descriptor", [](SignedPackage& p) { p.AppendToDescriptor(" "); }, Check::SignatureMismatch},
        {"signature cut short",
         [](SignedPackage& p) {
             p.dir.WriteFile(L"Staging\\Update.sig", p.dir.ReadFile(L"Staging\\Update.sig").substr(0, 63));
         },
         Check::SignatureMismatch},
        {"signed by another key", [](SignedPackage& p) { p.Sign(L"Other.key"); }, Check::SignatureMismatch},
        {"missing signature", [](SignedPackage& p) { p.dir.Remove(L"Staging\\Update.sig"); }, Check::NoSignature},
        {"unsigned package",
         [](SignedPackage& p) {
             for (auto& entry : p.entries) entry.sha256.reset();
             p.WriteDescriptor();
             p.dir.Remove(L"Staging\\Update.sig");
         },
         Check::NoSignature},
        {"no key file", [](SignedPackage& p) { p.dir.Remove(L"UpdateKey.pub"); }, Check::KeyUnusable},
        {"a folder in the key file's place",
         [](SignedPackage& p) {
             p.dir.Remove(L"UpdateKey.pub");
             CreateDirectoryW((p.dir / L"UpdateKey.pub").c_str(), nullptr);
         },
         Check::KeyUnusable},
        {"garbage key file", [](SignedPackage& p) { p.dir.WriteFile(L"UpdateKey.pub", "not a key\r\n"); },
         Check::KeyUnusable},
        {"private key in the public key's place",
         [](SignedPackage& p) { p.dir.WriteFile(L"UpdateKey.pub", KeyText(K::Private, p.author_.privateBlob)); },
         Check::KeyUnusable},
        {"key with text after it",
         [](SignedPackage& p) {
             p.dir.WriteFile(L"UpdateKey.pub", KeyText(K::Public, p.author_.publicBlob) + "more\r\n");
         },
         Check::KeyUnusable},
        {"key one digit short",
         [](SignedPackage& p) {
             std::string text = KeyText(K::Public, p.author_.publicBlob);
             p.dir.WriteFile(L"UpdateKey.pub", text.erase(text.size() - 3, 1));
         },
         Check::KeyUnusable},
    };
    return cases;
}

TEST(SignatureCheck, DecidesEachCaseByTheCheckThatFails)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        SignedPackage package;
        c.change(package);
        try {
            package.Check();
            EXPECT_FALSE(c.refused) << "passed";
        } catch (const signing::EPackageNotTrusted& refused) {
            ASSERT_TRUE(c.refused) << refused.what();
            EXPECT_EQ(refused.Failed(), *c.refused) << refused.what();
            if (!c.subject.empty()) {
                EXPECT_EQ(refused.Subject(), c.subject);
            }
            // Every refusal tells the user that nothing changed.
            EXPECT_NE(std::string(refused.what()).find("没有做任何更改"), std::string::npos) << refused.what();
        }
    }
}

TEST(SignatureCheck, TheSignerStopsAtAKeyFileItCannotUse)
{
    SignedPackage package;
    package.dir.WriteFile(L"Broken.key", "Tavilo update private key (ECDSA P-256)\r\n00\r\n");
    for (const std::wstring key : {L"Missing.key", L"UpdateKey.pub", L"Broken.key"}) {
        SCOPED_TRACE(Narrow(key));
        EXPECT_THROW(signing::PackageSigner{package.Path(key)}, signing::ESigningError);
    }
}

// UpdateKey.exe run in the folder, its output (both streams, redirected to a file: UTF-8) and exit code. Each run
// has a file of its own: under Wine the console host of a child may hold the inherited handle a moment longer.
struct ToolRun {
    DWORD exitCode;
    std::string output;
};

ToolRun RunUpdateKey(const TempDir& dir, const std::wstring& arguments)
{
    static int runs = 0;
    const std::wstring outputName = L"output-" + std::to_wstring(++runs) + L".txt";
    const std::wstring outputPath = dir / outputName;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot create the output file: error " + std::to_string(GetLastError()) + " before " +
                                 Narrow(arguments));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring commandLine = L"\"" + driver::BinDirectory() + L"UpdateKey.exe\" " + arguments;
    PROCESS_INFORMATION info{};
    const BOOL started =
        driver::StartProcess(nullptr, commandLine, TRUE, CREATE_NO_WINDOW, dir.Path().c_str(), startup, info);
    CloseHandle(output);
    if (!started) throw std::runtime_error("cannot start UpdateKey.exe");
    WaitForSingleObject(info.hProcess, 60000);
    DWORD exitCode = 0;
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return {exitCode, dir.ReadFile(outputName)};
}

TEST(UpdateKeyTool, MakesAKeyPairOnlyWhereNoFileWouldBeOverwritten)
{
    TempDir dir;
    const ToolRun made = RunUpdateKey(dir, L"new 作者.key 作者.pub");
    EXPECT_EQ(made.exitCode, 0u) << made.output;
    EXPECT_NE(made.output.find("已生成一对签名密钥"), std::string::npos) << made.output;
    const auto privateBlob = signing::ReadKeyFile(signing::KeyKind::Private, Narrow(dir / L"作者.key"));
    EXPECT_EQ(signing::ReadKeyFile(signing::KeyKind::Public, Narrow(dir / L"作者.pub")),
              signing::PublicHalf(privateBlob));

    const std::string privateText = dir.ReadFile(L"作者.key");
    for (const std::wstring arguments : {L"new 作者.key other.pub", L"new other.key 作者.pub"}) {
        SCOPED_TRACE(Narrow(arguments));
        const ToolRun refused = RunUpdateKey(dir, arguments);
        EXPECT_EQ(refused.exitCode, 1u) << refused.output;
        EXPECT_NE(refused.output.find("已经存在"), std::string::npos) << refused.output;
        EXPECT_FALSE(dir.Exists(L"other.pub"));
        EXPECT_FALSE(dir.Exists(L"other.key"));
    }
    EXPECT_EQ(dir.ReadFile(L"作者.key"), privateText);

    for (const std::wstring arguments : {L"", L"new only-one.key", L"sign a b"}) {
        EXPECT_EQ(RunUpdateKey(dir, arguments).exitCode, 2u) << Narrow(arguments);
    }
}

TEST(UpdateKeyTool, VerifiesAPackageInItsArchiveAsTheInstallWould)
{
    struct ToolCase {
        const char* name;
        std::function<void(SignedPackage&)> change;
        DWORD exitCode;
        std::string says;
    };
    const std::vector<ToolCase> cases = {
        {"good", [](SignedPackage&) {}, 0, "验证通过"},
        {"changed payload", [](SignedPackage& p) { p.dir.WriteFile(L"Staging\\Tool.dll", "MZ other"); }, 1, "Tool.dll"},
        {"changed descriptor", [](SignedPackage& p) { p.AppendToDescriptor(" "); }, 1, "签名与公钥不符"},
        {"unsigned", [](SignedPackage& p) { p.dir.Remove(L"Staging\\Update.sig"); }, 1, "没有签名"},
        {"signed by another key", [](SignedPackage& p) { p.Sign(L"Other.key"); }, 1, "签名与公钥不符"},
        {"garbage key file", [](SignedPackage& p) { p.dir.WriteFile(L"UpdateKey.pub", "garbage"); }, 1,
         "不是升级密钥文件"},
        {"not an archive", [](SignedPackage& p) { p.dir.WriteFile(L"Quellis.sky", "not a zip"); }, 1, "无法读取升级包"},
    };
    for (const ToolCase& c : cases) {
        SCOPED_TRACE(c.name);
        SignedPackage package;
        c.change(package);
        if (!package.dir.Exists(L"Quellis.sky")) package.Pack();
        const ToolRun run = RunUpdateKey(package.dir, L"verify Quellis.sky UpdateKey.pub");
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    }
}

}  // namespace
