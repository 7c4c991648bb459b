// The demonstration: the author's road (a signing key made, F2 builds a signed package and registers it on the
// update server) and then the user's road (the package installed into another program directory that holds the
// author's public key, and a tampered copy of it refused), driven through the real Update.exe as people use it.
// Screenshots go into the directory given on the command line; what happened is printed. Any step that does not show
// what it should ends the demonstration with a non-zero exit code.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "ConnectionString.h"
#include "EcdsaKeys.h"
#include "KeyFiles.h"
#include "Driver.h"
#include "OdbcStatement.h"
#include "zipcore/byte_stream.hpp"
#include "zipcore/zip_reader.hpp"
#include "zipcore/zip_writer.hpp"

using namespace driver;

namespace {

void Say(const std::string& line)
{
    std::printf("demo: %s\n", line.c_str());
    std::fflush(stdout);
}

void Expect(bool condition, const std::string& what)
{
    if (!condition) throw std::runtime_error(what);
}

void Shot(const std::wstring& outputDir, const std::wstring& name, HWND window)
{
    Sleep(300);  // let the last paint land
    const std::wstring path = outputDir + L"\\" + name + L".bmp";
    SaveScreenshot(path, AreaAround(window));
    WIN32_FILE_ATTRIBUTE_DATA written{};
    Expect(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &written) && written.nFileSizeLow > 0,
           "the screenshot " + Narrow(name) + " was not written");
    Say("screenshot " + Narrow(name) + ".png");
}

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr) throw std::runtime_error(std::string(name) + " is not set: start the server first");
    return value;
}

// The update server's tables, as the server side would have them, empty.
void PrepareServer(odbc::Connection& server)
{
    for (const char* sql : {"drop table if exists QS_UpdateFiles", "drop table if exists QS_SysParams",
                            "create table QS_UpdateFiles(ID serial primary key, FromVersion varchar(50), "
                            "ToVersion varchar(50), FileName varchar(255), FileSize integer)",
                            "create table QS_SysParams(ParamKey varchar(50), ParamValue varchar(255))",
                            "insert into QS_SysParams values('Version', '1.0')"}) {
        odbc::Statement(server, sql).Execute();
    }
}

void PrintServerRows(odbc::Connection& server)
{
    odbc::Statement files(server, "select FromVersion, ToVersion, FileName, FileSize from QS_UpdateFiles");
    files.Execute();
    while (files.Fetch()) {
        Say("server QS_UpdateFiles: " + files.GetText(1).value_or("") + " -> " + files.GetText(2).value_or("") + ", " +
            files.GetText(3).value_or("") + ", " + files.GetText(4).value_or("") + " bytes");
    }
    odbc::Statement params(server, "select ParamKey, ParamValue from QS_SysParams");
    params.Execute();
    while (params.Fetch()) {
        Say("server QS_SysParams: " + params.GetText(1).value_or("") + " = " + params.GetText(2).value_or(""));
    }
}

// The author's package and the public key that goes beside Update.exe on the users' side.
struct SignedRelease {
    std::string package;
    std::string publicKey;
};

// The package with one payload's bytes changed on its way to the user, the archive otherwise intact.
std::string Tampered(const TempDir& scratch, const std::string& package, const std::string& entryName)
{
    scratch.WriteFile(L"original.sky", package);
    const zipcore::ZipReader original = zipcore::ZipReader::open(Narrow(scratch / L"original.sky"));
    {
        zipcore::ZipWriter writer(Narrow(scratch / L"tampered.sky"));
        for (const zipcore::Entry& entry : original.entries()) {
            zipcore::VectorSink sink;
            original.read(entry, sink);
            std::vector<std::uint8_t> bytes(sink.bytes().begin(), sink.bytes().end());
            if (entry.name == entryName) bytes.insert(bytes.end(), {'!', '!'});
            writer.addEntry(entry.name, zipcore::MemorySource(bytes), zipcore::DosDateTime{});
        }
        writer.finish();
    }
    return scratch.ReadFile(L"tampered.sky");
}

SignedRelease AuthorsRoad(const std::wstring& outputDir, const ProgramDir& author)
{
    const std::string host = Env("TAVILO_PG_HOST"), port = Env("TAVILO_PG_PORT"), user = Env("TAVILO_PG_USER"),
                      password = Env("TAVILO_PG_PASSWORD"), database = Env("TAVILO_PG_DATABASE");
    odbc::Connection server;
    server.Open(ConnectionStringBuilder()
                    .Driver("SQL Server")
                    .Add("Server", host)
                    .Add("Port", port)
                    .Add("Database", database)
                    .Add("Uid", user)
                    .Secret("Pwd", password)
                    .Text());
    PrepareServer(server);

    // The key pair as `UpdateKey new Keys\Author.key UpdateKey.pub` writes it; config.ini names the private half.
    const signing::KeyPairBlobs keys = signing::GenerateKeyPair();
    author.WriteFile(L"Keys\\Author.key", signing::ComposeKeyFile(signing::KeyKind::Private, keys.privateBlob));
    Say("author: signing key Keys\\Author.key made, its public half UpdateKey.pub goes to the users");
    author.WriteFile(L"aaa.aaa", "");
    author.WriteFile(L"config.ini", "[config]\r\nServer=" + host + "\r\nPort=" + port + "\r\nDatabase=" + database +
                                        "\r\nUserName=" + user + "\r\nPassword=" + password +
                                        "\r\nSigningKey=Keys\\Author.key\r\n");
    author.WriteFile(L"FilesToUpdate\\Bin\\Tavilo.Lessons.dll", std::string(40000, 'L'));
    author.WriteFile(L"FilesToUpdate\\readme.txt", "Tavilo 1.1: new lessons, faster start.\r\n");
    author.WriteFile(L"FilesToUpdate\\课程表.xml", "<课程表><课 名称=\"数学\"/></课程表>");
    author.WriteFile(L"FilesToUpdate\\Files.xml",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<list>\r\n  <foreversion>1.0</foreversion>\r\n"
                     "  <version>1.1</version>\r\n  <files>\r\n"
                     "    <file src=\"Bin\\Tavilo.Lessons.dll\" des=\"Bin\\\"/>\r\n"
                     "    <file src=\"readme.txt\" des=\"\"/>\r\n"
                     "    <file src=\"课程表.xml\" des=\"Data\\Lessons\\\"/>\r\n"
                     "  </files>\r\n</list>\r\n");

    UpdateApp app(author);
    Shot(outputDir, L"window", app.Form());
    Say("author: F2");
    app.TypeKey(VK_F2);
    const MessageBoxInfo box = app.ExpectMessageBox(60s);
    Shot(outputDir, L"author-built", app.Form());
    Say("author: message box \"" + Narrow(box.text) + "\"");
    box.Dismiss();
    Expect(box.text == L"升级程序打包成功！", "F2 did not report a built package");
    PrintServerRows(server);
    const std::string package = author.ReadFile(L"Output\\Quellis1.0_1.1.sky");
    const zipcore::ZipReader built = zipcore::ZipReader::open(Narrow(author / L"Output\\Quellis1.0_1.1.sky"));
    bool signedPackage = false;
    for (const zipcore::Entry& entry : built.entries()) signedPackage = signedPackage || entry.name == "Update.sig";
    Expect(signedPackage, "the package F2 built holds no Update.sig");
    Say("author: the package holds Update.sig");
    return {package, signing::ComposeKeyFile(signing::KeyKind::Public, keys.publicBlob)};
}

// What support would read after the user's call: the lines of Temp\Update.log, without their time and process id.
void PrintSupportLog(const ProgramDir& user)
{
    const std::vector<std::string> events = SupportLogEvents(user);
    Expect(!events.empty(), "the install left no log");
    for (const std::string& event : events) Say("log: " + event);
}

// A tampered copy of the signed package, offered to a suite that holds the author's public key, is refused
// before anything moves.
void TamperedCopyRefused(const std::wstring& outputDir, const ProgramDir& user, const SignedRelease& release)
{
    user.WriteFile(L"UpdateKey.pub", release.publicKey);
    user.WriteFile(L"readme.txt", "Tavilo 1.0\r\n");
    TempDir scratch;
    user.WriteFile(L"Quellis.sky", Tampered(scratch, release.package, "readme.txt"));

    UpdateApp app(user);
    Say("user: a copy of the package with readme.txt changed on the way; click 开始升级");
    app.ClickStart();
    const MessageBoxInfo box = app.ExpectMessageBox(60s);
    Shot(outputDir, L"install-refused", app.Form());
    Say("user: message box \"" + Narrow(box.text) + "\"");
    box.Dismiss();
    Expect(box.text.rfind(L"升级包中的文件“readme.txt”与签名的升级说明不符", 0) == 0,
           "the tampered package was not refused for its changed file");
    Expect(user.ReadFile(L"readme.txt") == "Tavilo 1.0\r\n" && !user.Exists(L"Bin\\Tavilo.Lessons.dll"),
           "the refused package changed the program directory");
    Expect(user.Exists(L"Quellis.sky"), "the refused package was removed");
    Say("user: nothing changed, Quellis.sky stays");
    PrintSupportLog(user);
}

void UsersRoad(const std::wstring& outputDir, const ProgramDir& user, const SignedRelease& release)
{
    user.WriteFile(L"UpdateKey.pub", release.publicKey);
    Say("user: UpdateKey.pub beside Update.exe");
    const std::string& package = release.package;
    user.WriteFile(L"readme.txt", "Tavilo 1.0\r\n");
    user.WriteFile(L"Bin\\Tavilo.exe", "the suite itself, untouched by this update");
    user.WriteFile(L"Quellis.sky", package);

    UpdateApp app(user);
    Say("user: click 开始升级");
    app.ClickStart();
    Expect(WaitUntil([&] { return app.Status().rfind(L"正在升级", 0) == 0; }, 30s),
           "the status line never said which file is being upgraded");
    Say("status line \"" + Narrow(app.Status()) + "\"");
    Shot(outputDir, L"install-progress", app.Form());
    const MessageBoxInfo box = app.ExpectMessageBox(60s);
    Shot(outputDir, L"install-done", app.Form());
    Say("user: message box \"" + Narrow(box.text) + "\"");
    box.Dismiss();
    Expect(box.text == L"升级成功!", "the install did not report success");
    for (const wchar_t* file : {L"Bin\\Tavilo.Lessons.dll", L"readme.txt", L"Data\\Lessons\\课程表.xml"}) {
        Expect(user.Exists(file), Narrow(file) + " was not installed");
        Say("user: " + Narrow(file) + " installed");
    }
    Expect(!user.Exists(L"Quellis.sky"), "the installed package was not removed");
    Say("user: Quellis.sky removed");
    PrintSupportLog(user);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: DemoDriver <output directory> <folder holding Update.exe and its libraries>\n");
        return 2;
    }
    const std::wstring outputDir = argv[1];
    std::wstring programFiles = argv[2];
    if (programFiles.back() != L'\\') programFiles += L'\\';
    try {
        ProgramDir author(programFiles);
        const SignedRelease release = AuthorsRoad(outputDir, author);
        ProgramDir user(programFiles);
        UsersRoad(outputDir, user, release);
        ProgramDir otherUser(programFiles);
        TamperedCopyRefused(outputDir, otherUser, release);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "demo: failed: %s\n", error.what());
        return 1;
    }
}
