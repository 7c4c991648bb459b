#include <fstream>

#include <gtest/gtest.h>

#include "ConnectionString.h"
#include "DbTestSupport.h"
#include "UpdateServer.h"

TEST(ConnectionStringTest, BracesOnlyWhatPostgresAndWindowsBothRead)
{
    const std::string text = ConnectionStringBuilder()
                                 .Driver("SQL Server")
                                 .Add("Server", "db.example.com\\SQL2019")
                                 .Add("Database", "a;b")
                                 .Add("Uid", "x}y{z")
                                 .Secret("Pwd", "p;w}}d")
                                 .Add("Port", "")
                                 .Text();
    EXPECT_EQ(text, "Driver={SQL Server};Server=db.example.com\\SQL2019;Database={a;b};Uid={x}}y{z};"
                    "Pwd={p;w}}}}d};Port=");
    EXPECT_EQ(ConnectionStringBuilder().Secret("Pwd", "").Text(), "Pwd={}");
    EXPECT_EQ(ConnectionStringBuilder().Add("Dbq", "C:\\a=b\\x.mdb").Text(), "Dbq=C:\\a=b\\x.mdb");
}

TEST(ConnectionStringTest, ServerStringHasThePortOnlyWhenGiven)
{
    ServerSettings settings{"srv", "sa", "pw", "Quellis", "SQL Server", ""};
    EXPECT_EQ(ServerConnectionString(settings), "Driver={SQL Server};Server=srv;Database=Quellis;Uid=sa;Pwd={pw}");
    settings.driver = "ODBC Driver 18 for SQL Server";
    settings.port = "1433";
    EXPECT_EQ(ServerConnectionString(settings),
              "Driver={ODBC Driver 18 for SQL Server};Server=srv;Database=Quellis;Uid=sa;Pwd={pw};Port=1433");
}

TEST(ServerSettingsTest, ReadsEveryKeyAsWritten)
{
    ScratchFolder folder;
    const auto ini = folder / "config.ini";
    std::ofstream(ini) << "[other]\nServer=wrong\n[config]\nServer=host\\inst\nUserName=author\n"
                          "Password=a;b}c{d=e\nDatabase=Quellis\nDriver=PostgreSQL Unicode\nPort=5433\n";
    const ServerSettings settings = ReadServerSettings(ini.string());
    EXPECT_EQ(settings.server, "host\\inst");
    EXPECT_EQ(settings.userName, "author");
    EXPECT_EQ(settings.password, "a;b}c{d=e");
    EXPECT_EQ(settings.database, "Quellis");
    EXPECT_EQ(settings.driver, "PostgreSQL Unicode");
    EXPECT_EQ(settings.port, "5433");
}

TEST(ServerSettingsTest, MissingFileOrKeysGiveEmptyValuesAndTheWindowsDriver)
{
    ScratchFolder folder;
    const ServerSettings missing = ReadServerSettings((folder / "config.ini").string());
    EXPECT_EQ(ServerConnectionString(missing), "Driver={SQL Server};Server=;Database=;Uid=;Pwd={}");

    const auto ini = folder / "partial.ini";
    std::ofstream(ini) << "[config]\nServer=srv\nDriver=\n";
    const ServerSettings partial = ReadServerSettings(ini.string());
    EXPECT_EQ(partial.server, "srv");
    EXPECT_EQ(partial.driver, "SQL Server");
    EXPECT_EQ(partial.password, "");
    EXPECT_EQ(partial.port, "");
}

TEST(ServerSettingsTest, LongValuesAreNotCut)
{
    ScratchFolder folder;
    const auto ini = folder / "config.ini";
    const std::string password(1000, 'k');
    std::ofstream(ini) << "[config]\nPassword=" << password << "\n";
    EXPECT_EQ(ReadServerSettings(ini.string()).password, password);
}
