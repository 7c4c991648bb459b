// The demonstration: the author's road (F2 builds a package and registers it on the update server) and then the
// user's road (the package installed into another program directory), driven through the real Update.exe as
// people use it. Screenshots go into the directory given on the command line; what happened is printed. Any step
// that does not show what it should ends the demonstration with a non-zero exit code.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "ConnectionString.h"
#include "Driver.h"
#include "OdbcStatement.h"

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

std::string AuthorsRoad(const std::wstring& outputDir, const ProgramDir& author)
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

    author.WriteFile(L"aaa.aaa", "");
    author.WriteFile(L"config.ini", "[config]\r\nServer=" + host + "\r\nPort=" + port + "\r\nDatabase=" + database +
                                        "\r\nUserName=" + user + "\r\nPassword=" + password + "\r\n");
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
    return author.ReadFile(L"Output\\Quellis1.0_1.1.sky");
}

void UsersRoad(const std::wstring& outputDir, const ProgramDir& user, const std::string& package)
{
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
        const std::string package = AuthorsRoad(outputDir, author);
        ProgramDir user(programFiles);
        UsersRoad(outputDir, user, package);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "demo: failed: %s\n", error.what());
        return 1;
    }
}
