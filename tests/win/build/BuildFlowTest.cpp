// Author mode end to end: the real Update.exe builds a package on F2, with the real zip32.dll, and registers it
// on the test run's PostgreSQL server standing in for the update server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

#include "DbTestSupport.h"
#include "EcdsaKeys.h"
#include "KeyFiles.h"
#include "SignatureCheck.h"
#include "Driver.h"
#include "UpdateDescriptor.h"
#include "zipcore/zip_reader.hpp"

using namespace driver;

namespace {

struct ListedFile {
    std::string src;
    std::string des;
};

// Every entry of a package, name to content.
std::map<std::string, std::string> PackageContents(const std::wstring& path)
{
    std::map<std::string, std::string> contents;
    const zipcore::ZipReader package = zipcore::ZipReader::open(Narrow(path));
    for (const zipcore::Entry& entry : package.entries()) {
        zipcore::VectorSink sink;
        package.read(entry, sink);
        contents[entry.name] = std::string(sink.bytes().begin(), sink.bytes().end());
    }
    return contents;
}

// Support reads the log; the connection string and the password must never reach it.
void ExpectNoSecretsLogged(const ProgramDir& dir, const ServerSettings& settings)
{
    std::string log = dir.ReadFile(L"Temp\\Update.log");
    EXPECT_EQ(log.find(settings.password), std::string::npos);
    std::transform(log.begin(), log.end(), log.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* key : {"pwd=", "password=", "uid=", "driver="}) EXPECT_EQ(log.find(key), std::string::npos) << key;
}

class BuildFlowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        schema.Execute("create table QS_UpdateFiles(ID serial primary key, FromVersion varchar(50), "
                       "ToVersion varchar(50), FileName varchar(255), FileSize integer)");
        schema.Execute("create table QS_SysParams(ParamKey varchar(50), ParamValue varchar(255))");
        WriteConfig(schema.Settings());
        dir.WriteFile(L"aaa.aaa", "");
        dir.WriteFile(L"FilesToUpdate\\Bin\\Tool.dll", std::string("MZ\0\x01tool", 8));
        dir.WriteFile(L"FilesToUpdate\\readme.txt", "read me\r\n");
        dir.WriteFile(L"FilesToUpdate\\说明 & 注意.txt", "中文内容");
    }

    void WriteConfig(const ServerSettings& settings, const std::string& signingKey = "")
    {
        dir.WriteFile(L"config.ini", "[config]\r\nDriver=" + settings.driver + "\r\nServer=" + settings.server +
                                         "\r\nPort=" + settings.port + "\r\nDatabase=" + settings.database +
                                         "\r\nUserName=" + settings.userName + "\r\nPassword=" + settings.password +
                                         "\r\nSigningKey=" + signingKey + "\r\n");
    }

    void WriteFileList(const std::string& from, const std::string& to, const std::vector<ListedFile>& files)
    {
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<list>\r\n  <foreversion>" + from +
                          "</foreversion>\r\n  <version>" + to + "</version>\r\n  <files>\r\n";
        for (const ListedFile& file : files) {
            xml += "    <f src=\"" + file.src + "\" des=\"" + file.des + "\"/>\r\n";
        }
        dir.WriteFile(L"FilesToUpdate\\Files.xml", xml + "  </files>\r\n</list>\r\n");
    }

    // Presses F2 as a user does and returns the message box the build ends with.
    MessageBoxInfo Build(UpdateApp& app, bool shift = false)
    {
        app.TypeKey(VK_F2, shift);
        MessageBoxInfo box = app.ExpectMessageBox();
        box.Dismiss();
        return box;
    }

    // The names in Output\, sorted.
    std::vector<std::wstring> OutputFolder() const
    {
        std::vector<std::wstring> names;
        for (const auto& item : std::filesystem::directory_iterator(std::filesystem::path(dir / L"Output"))) {
            names.push_back(item.path().filename().wstring());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<Row> PackageRows()
    {
        return schema.Query("select FromVersion, ToVersion, FileName, FileSize from QS_UpdateFiles order by ID");
    }

    ProgramDir dir;
    ScratchSchema schema;
    const std::vector<ListedFile> standardList{
        {"Bin\\Tool.dll", "Bin\\"}, {"readme.txt", ""}, {"说明 &amp; 注意.txt", "Docs\\中文\\"}};
};

}  // namespace

TEST_F(BuildFlowTest, F2InAuthorModeBuildsThePackageAndRegistersIt)
{
    WriteFileList("1.0", "1.1", standardList);
    UpdateApp app(dir);
    const MessageBoxInfo box = Build(app, /*shift=*/true);  // F2 builds whatever modifiers are held
    EXPECT_EQ(box.text, L"升级程序打包成功！");
    EXPECT_EQ(box.caption, L"提示");
    EXPECT_EQ(box.icon, BoxIcon::Information);

    EXPECT_FALSE(dir.Exists(L"Output\\Update.xml")) << "the descriptor is removed after packing";
    const std::wstring package = dir / L"Output\\Quellis1.0_1.1.sky";
    ASSERT_TRUE(dir.Exists(L"Output\\Quellis1.0_1.1.sky"));
    auto contents = PackageContents(package);
    ASSERT_EQ(contents.size(), 4u);
    EXPECT_EQ(contents["Tool.dll"], std::string("MZ\0\x01tool", 8)) << "src Bin\\Tool.dll ships as Tool.dll";
    EXPECT_EQ(contents["readme.txt"], "read me\r\n");
    EXPECT_EQ(contents["说明 & 注意.txt"], "中文内容");
    ASSERT_EQ(contents.count("Update.xml"), 1u);

    // The descriptor inside reads back with every name and destination as listed.
    TempDir scratch;
    scratch.WriteFile(L"update.xml", contents["Update.xml"]);
    TXMLDocument xml;
    xml.LoadFromFile(Narrow(scratch / L"update.xml"));
    DescriptorReader descriptor(xml);
    EXPECT_EQ(descriptor.Version(), "1.1");
    ASSERT_EQ(descriptor.FileCount(), 3);
    EXPECT_EQ(descriptor.File(0), (PackageFile{"Tool.dll", "Bin\\"}));
    EXPECT_EQ(descriptor.File(1), (PackageFile{"readme.txt", ""}));
    EXPECT_EQ(descriptor.File(2), (PackageFile{"说明 & 注意.txt", "Docs\\中文\\"}));

    // Left for a host-side look with Debian's unzip when the run asks for it (see CMakeLists.txt).
    if (const wchar_t* keep = _wgetenv(L"TAVILO_KEEP_PACKAGE")) CopyFileW(package.c_str(), keep, FALSE);

    const std::string size = std::to_string(dir.ReadFile(L"Output\\Quellis1.0_1.1.sky").size());
    EXPECT_EQ(PackageRows(), (std::vector<Row>{{"1.0", "1.1", "update/Quellis1.0_1.1.sky", size}}));
    EXPECT_EQ(schema.Query("select ParamValue from QS_SysParams where ParamKey='Version'"),
              (std::vector<Row>{{"1.1"}}));
    EXPECT_EQ(app.Status(), L"") << "the build never touches the status line";

    const std::vector<std::string> events = SupportLogEvents(dir);
    const std::string at = Narrow(dir.Path());
    EXPECT_EQ(FirstMissingInOrder(
                  events,
                  {"start: F2 build in " + at + ", Update.exe version 1.0.0.0",
                   "file list: version 1.0 to 1.1, 3 files, not signed", "Tool.dll as Bin\\Tool.dll",
                   "readme.txt as readme.txt", "说明 & 注意.txt as Docs\\中文\\说明 & 注意.txt",
                   "package written, not signed: " + at + "Output\\Quellis1.0_1.1.sky, " + size + " bytes",
                   "QS_UpdateFiles row (1.0, 1.1, update/Quellis1.0_1.1.sky, " + size + "), QS_SysParams Version = 1.1",
                   "message (information) after "}),
              "")
        << ::testing::PrintToString(events);
    EXPECT_NE(events.back().find(": 升级程序打包成功！"), std::string::npos);
    ExpectNoSecretsLogged(dir, schema.Settings());
}

// Keys that must not build are followed by a sentinel: a click, posted behind them, whose answer (there is no
// package) must be the next box. A build that one of them started, however late, would show its box first.
TEST_F(BuildFlowTest, OnlyF2WithTheMarkerBuilds)
{
    WriteFileList("1.0", "1.1", standardList);
    auto expectTheClickAnsweredNext = [](UpdateApp& app, const char* what) {
        app.ClickStart();
        const MessageBoxInfo box = app.ExpectMessageBox();
        EXPECT_EQ(box.text, L"未检查到升级程序!") << what;
        box.Dismiss();
    };
    {
        UpdateApp app(dir);
        for (WORD key : {WORD('A'), WORD(VK_F3), WORD(VK_ESCAPE), WORD(VK_F1)}) app.PostKey(key);
        expectTheClickAnsweredNext(app, "another key built");
        EXPECT_FALSE(dir.Exists(L"Output"));
    }
    dir.Remove(L"aaa.aaa");
    UpdateApp app(dir);
    app.PostKey(VK_F2);
    expectTheClickAnsweredNext(app, "without the marker F2 built");
    EXPECT_FALSE(dir.Exists(L"Output"));
}

TEST_F(BuildFlowTest, AnEmptyListBuildsAPackageHoldingOnlyTheDescriptor)
{
    WriteFileList("2.0", "2.1", {});
    UpdateApp app(dir);
    EXPECT_EQ(Build(app).text, L"升级程序打包成功！");
    auto contents = PackageContents(dir / L"Output\\Quellis2.0_2.1.sky");
    ASSERT_EQ(contents.size(), 1u);
    EXPECT_EQ(contents.begin()->first, "Update.xml");
}

TEST_F(BuildFlowTest, AMissingFileListEndsWithTheDefaultErrorBox)
{
    UpdateApp app(dir);
    const MessageBoxInfo box = Build(app);
    EXPECT_EQ(box.text, L"No active document.");
    EXPECT_EQ(box.caption, L"Update");
    EXPECT_EQ(box.icon, BoxIcon::Error);
    EXPECT_FALSE(dir.Exists(L"Output"));
    // The window is usable again: a second F2 runs a second build.
    EXPECT_EQ(Build(app).text, L"No active document.");
}

TEST_F(BuildFlowTest, AFaultyListIsRefusedBeforeAnythingIsWritten)
{
    dir.WriteFile(L"FilesToUpdate\\other\\readme.txt", "another readme");
    dir.WriteFile(L"FilesToUpdate\\update.XML", "<update/>");
    dir.WriteFile(L"FilesToUpdate\\Quellis.sky", "an old package among the author's files");
    dir.WriteFile(L"FilesToUpdate\\other\\Temp", "a file named like the install's folder");
    dir.WriteFile(L"FilesToUpdate\\update.SIG", "a signature among the author's files");
    struct Case {
        std::vector<ListedFile> files;
        std::wstring named;  // what the message must name
    } cases[] = {
        {{{"readme.txt", ""}, {"gone.dll", ""}}, L"gone.dll"},
        {{{"Bin", ""}}, L"Bin"},  // a directory is not a file
        {{{"readme.txt", ""}, {"other\\README.TXT", "x\\"}}, L"README.TXT"},
        {{{"update.XML", ""}}, L"update.XML"},
        {{{"readme.txt", "..\\..\\Windows\\"}}, L"readme.txt"},  // the installer would refuse these later
        {{{"readme.txt", "C:\\Windows\\"}}, L"readme.txt"},
        {{{"readme.txt", "\\Windows"}}, L"readme.txt"},
        // Names and places the install keeps for itself.
        {{{"Quellis.sky", ""}}, L"升级包 Quellis.sky"},
        {{{"readme.txt", "temp\\Package\\"}}, L"临时目录"},
        {{{"readme.txt", ""}, {"other\\Temp", ""}}, L"临时目录"},
    };
    UpdateApp app(dir);
    for (const Case& c : cases) {
        WriteFileList("1.0", "1.1", c.files);
        const MessageBoxInfo box = Build(app);
        EXPECT_NE(box.text.find(c.named), std::wstring::npos) << Narrow(box.text);
        EXPECT_EQ(box.icon, BoxIcon::Error);
        EXPECT_EQ(box.caption, L"提示");
        EXPECT_FALSE(dir.Exists(L"Output")) << Narrow(c.named);
        EXPECT_TRUE(PackageRows().empty());
    }
}

TEST_F(BuildFlowTest, AnEarlierPackageOfTheSameNameIsReplacedNotAddedTo)
{
    WriteFileList("1.0", "1.1", {{"readme.txt", ""}});
    dir.WriteFile(L"Output\\Quellis1.0_1.1.sky", "not even an archive");
    UpdateApp app(dir);
    EXPECT_EQ(Build(app).text, L"升级程序打包成功！");
    auto contents = PackageContents(dir / L"Output\\Quellis1.0_1.1.sky");
    EXPECT_EQ(contents.size(), 2u);
    EXPECT_EQ(contents.count("readme.txt"), 1u);
    EXPECT_EQ(OutputFolder(), std::vector<std::wstring>{L"Quellis1.0_1.1.sky"}) << "the earlier one is gone";
}

// A build that makes no good package leaves the author's earlier package as it was, and nothing else in Output\.
TEST_F(BuildFlowTest, WithoutZip32AnOldPackageIsKeptAndNeverPublished)
{
    WriteFileList("1.0", "1.1", {{"readme.txt", ""}});
    dir.WriteFile(L"Output\\Quellis1.0_1.1.sky", "an old package");
    dir.Remove(L"zip32.dll");
    UpdateApp app(dir);
    app.TypeKey(VK_F2);
    MessageBoxInfo missing = app.ExpectMessageBox();
    EXPECT_EQ(missing.text, L"找不到zip32.dll");
    EXPECT_EQ(missing.icon, BoxIcon::Error);
    missing.Dismiss();
    const MessageBoxInfo refused = app.ExpectMessageBox();
    refused.Dismiss();
    EXPECT_NE(refused.text.find(L"Quellis1.0_1.1.sky"), std::wstring::npos) << Narrow(refused.text);
    EXPECT_EQ(refused.icon, BoxIcon::Error);
    EXPECT_TRUE(PackageRows().empty()) << "nothing may reach the server";
    EXPECT_EQ(OutputFolder(), std::vector<std::wstring>{L"Quellis1.0_1.1.sky"});
    EXPECT_EQ(dir.ReadFile(L"Output\\Quellis1.0_1.1.sky"), "an old package");
}

// Update.sig is a name of the build's own only when it signs: it then packs its signature under that name.
TEST_F(BuildFlowTest, APayloadNamedUpdateSigIsRefusedOnlyWhenTheBuildSigns)
{
    const signing::KeyPairBlobs keys = signing::GenerateKeyPair();
    dir.WriteFile(L"Keys\\Author.key", signing::ComposeKeyFile(signing::KeyKind::Private, keys.privateBlob));
    dir.WriteFile(L"FilesToUpdate\\update.SIG", "a payload of that name");
    WriteFileList("1.0", "1.1", {{"readme.txt", ""}, {"update.SIG", "Data\\"}});
    UpdateApp app(dir);
    for (const bool signs : {true, false}) {
        SCOPED_TRACE(signs ? "signing" : "not signing");
        WriteConfig(schema.Settings(), signs ? "Keys\\Author.key" : "");
        const MessageBoxInfo box = Build(app);
        if (signs) {
            EXPECT_NE(box.text.find(L"Update.sig"), std::wstring::npos) << Narrow(box.text);
            EXPECT_EQ(box.icon, BoxIcon::Error);
            EXPECT_FALSE(dir.Exists(L"Output"));
            continue;
        }
        EXPECT_EQ(box.text, L"升级程序打包成功！");
        const auto contents = PackageContents(dir / L"Output\\Quellis1.0_1.1.sky");
        EXPECT_EQ(contents.size(), 3u);
        EXPECT_EQ(contents.at("update.SIG"), "a payload of that name");
    }
}

TEST_F(BuildFlowTest, AServerThatRefusesTheLoginGetsTheConnectionMessage)
{
    WriteFileList("1.0", "1.1", {{"readme.txt", ""}});
    ServerSettings wrong = schema.Settings();
    wrong.password += "-wrong";
    WriteConfig(wrong);
    UpdateApp app(dir);
    const MessageBoxInfo box = Build(app);
    EXPECT_EQ(box.text, L"连接数据库失败");
    EXPECT_EQ(box.icon, BoxIcon::Information);
    EXPECT_FALSE(FindMessageBox(app.ProcessId())) << "no success message after a failed publication";
    EXPECT_TRUE(PackageRows().empty());
    const std::vector<std::string> events = SupportLogEvents(dir);
    EXPECT_EQ(FirstMissingInOrder(events, {"cannot connect to the update server", " s: 连接数据库失败"}), "")
        << ::testing::PrintToString(events);
    ExpectNoSecretsLogged(dir, wrong);
}

TEST_F(BuildFlowTest, APackageBuiltByF2InstallsByteForByteInAnotherProgramDirectory)
{
    WriteFileList("1.0", "1.1", standardList);
    {
        UpdateApp author(dir);
        ASSERT_EQ(Build(author).text, L"升级程序打包成功！");
    }
    ProgramDir user;
    user.WriteFile(L"readme.txt", "the old readme");
    user.WriteFile(L"Quellis.sky", dir.ReadFile(L"Output\\Quellis1.0_1.1.sky"));
    UpdateApp app(user);
    app.ClickStart();
    const MessageBoxInfo box = app.ExpectMessageBox(60s);
    box.Dismiss();
    EXPECT_EQ(box.text, L"升级成功!");
    EXPECT_EQ(user.ReadFile(L"Bin\\Tool.dll"), dir.ReadFile(L"FilesToUpdate\\Bin\\Tool.dll"));
    EXPECT_EQ(user.ReadFile(L"readme.txt"), dir.ReadFile(L"FilesToUpdate\\readme.txt"));
    EXPECT_EQ(user.ReadFile(L"Docs\\中文\\说明 & 注意.txt"), dir.ReadFile(L"FilesToUpdate\\说明 & 注意.txt"));
    EXPECT_FALSE(user.Exists(L"Quellis.sky"));
}

// A key that cannot be used, or a version that installs could not order against the one installed last, stops a
// signed build before anything is written.
TEST_F(BuildFlowTest, ASigningKeyThatCannotBeUsedStopsTheBuildBeforeAnythingIsWritten)
{
    dir.WriteFile(L"FilesToUpdate\\Author.key", "");
    dir.WriteFile(L"Keys\\Author.key",
                  signing::ComposeKeyFile(signing::KeyKind::Private, signing::GenerateKeyPair().privateBlob));
    struct Case {
        std::string signingKey;
        std::wstring named;  // what the message must say
        std::string version = "1.1";
    } cases[] = {
        {"Keys\\Missing.key", L"文件不存在"},
        {"FilesToUpdate\\Author.key", L"FilesToUpdate\\"},
        {Narrow(dir / L"output\\Author.key"), L"Output\\"},
        {"Keys\\Author.key", L"\"1.1 beta\" 不是", "1.1 beta"},
    };
    UpdateApp app(dir);
    for (const Case& c : cases) {
        WriteFileList("1.0", c.version, standardList);
        WriteConfig(schema.Settings(), c.signingKey);
        const MessageBoxInfo box = Build(app);
        EXPECT_NE(box.text.find(c.named), std::wstring::npos) << Narrow(box.text);
        EXPECT_EQ(box.icon, BoxIcon::Error);
        EXPECT_FALSE(dir.Exists(L"Output")) << c.signingKey;
        EXPECT_TRUE(PackageRows().empty());
    }
}

TEST_F(BuildFlowTest, ASignedBuildCarriesTheSignatureAndEveryPayloadsHash)
{
    const signing::KeyPairBlobs keys = signing::GenerateKeyPair();
    dir.WriteFile(L"Keys\\Author.key", signing::ComposeKeyFile(signing::KeyKind::Private, keys.privateBlob));
    dir.WriteFile(L"UpdateKey.pub", signing::ComposeKeyFile(signing::KeyKind::Public, keys.publicBlob));
    WriteConfig(schema.Settings(), "Keys\\Author.key");
    WriteFileList("1.0", "1.1", standardList);
    UpdateApp app(dir);
    EXPECT_EQ(Build(app).text, L"升级程序打包成功！");
    EXPECT_FALSE(dir.Exists(L"Output\\Update.sig")) << "the signature is removed after packing";

    const std::wstring package = dir / L"Output\\Quellis1.0_1.1.sky";
    if (const wchar_t* keep = _wgetenv(L"TAVILO_KEEP_PACKAGE")) CopyFileW(package.c_str(), keep, FALSE);
    // Unpacked as the install unpacks it, the package passes the install's check.
    TempDir unpacked;
    for (const auto& [name, bytes] : PackageContents(package)) unpacked.WriteFile(Widen(name), bytes);
    ASSERT_TRUE(unpacked.Exists(L"Update.sig"));
    TXMLDocument xml;
    xml.LoadFromFile(Narrow(unpacked / L"Update.xml"));
    const DescriptorReader descriptor(xml);
    std::vector<PackageFile> entries;
    for (int i = 0; i < descriptor.FileCount(); ++i) entries.push_back(descriptor.File(i));
    ASSERT_EQ(entries.size(), 3u);
    const std::string readme = "read me\r\n";
    EXPECT_EQ(entries[1].sha256,
              signing::Hex(signing::Sha256Of(std::span(reinterpret_cast<const std::uint8_t*>(readme.data()), 9))));
    std::string folder = Narrow(unpacked / L"Update.xml");
    folder.resize(folder.size() - std::string("Update.xml").size());
    EXPECT_NO_THROW(signing::CheckUnpackedPackage(Narrow(unpacked / L"Update.xml"), Narrow(unpacked / L"Update.sig"),
                                                  folder, entries, Narrow(dir / L"UpdateKey.pub")));
}

// The digests are taken before the library reads the files again to pack them: a file changed in between (the test
// build changes it there) makes a package that every key holder refuses. F2 checks the package as they will,
// refuses to publish it and leaves Output\ as it found it.
TEST_F(BuildFlowTest, ASignedPackageThatFailsTheInstallsCheckIsNeitherKeptNorPublished)
{
    const signing::KeyPairBlobs keys = signing::GenerateKeyPair();
    dir.WriteFile(L"Keys\\Author.key", signing::ComposeKeyFile(signing::KeyKind::Private, keys.privateBlob));
    WriteConfig(schema.Settings(), "Keys\\Author.key");
    WriteFileList("1.0", "1.1", standardList);
    dir.WriteFile(L"Output\\Quellis0.9_1.0.sky", "an earlier package");
    dir.CopyFromBin(L"UpdateWithFaults.exe");
    struct Case {
        const char* changed;
        const wchar_t* finding;
    } cases[] = {
        {"readme.txt", L"readme.txt"},      // a payload, after its digest went into the descriptor
        {"Update.xml", L"签名与公钥不符"},  // the descriptor, after it was signed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.changed);
        UpdateApp app(dir, L"UpdateWithFaults.exe", L"--alter-before-packing=" + Widen(c.changed));
        const MessageBoxInfo box = Build(app);
        EXPECT_EQ(box.text.rfind(L"升级包没有通过签名检查，未发布到服务器", 0), 0u) << Narrow(box.text);
        EXPECT_NE(box.text.find(c.finding), std::wstring::npos) << Narrow(box.text);
        EXPECT_EQ(box.icon, BoxIcon::Error);
        EXPECT_FALSE(dir.Exists(L"Output\\Quellis1.0_1.1.sky"));
        EXPECT_FALSE(dir.Exists(L"Output\\Update.xml"));
        EXPECT_FALSE(dir.Exists(L"Output\\Update.sig"));
        EXPECT_EQ(dir.ReadFile(L"Output\\Quellis0.9_1.0.sky"), "an earlier package");
        EXPECT_TRUE(PackageRows().empty());
        dir.WriteFile(L"FilesToUpdate\\readme.txt", "read me\r\n");
    }
}
