#include <gtest/gtest.h>

#include "Common.h"
#include "ConnectionString.h"
#include "DbTestSupport.h"
#include "OdbcError.h"
#include "OdbcStatement.h"
#include "Paths.h"

// The Access driver cannot run here; the SQLite driver, reached by host path, stands in for the local database.
class SysParamTest : public testing::Test {
protected:
    static std::string ConnectionStringFor(const std::string& hostPath, bool mayCreate = false)
    {
        ConnectionStringBuilder builder;
        builder.Driver("SQLite3").Add("Database", hostPath).Add("Timeout", "500");
        if (!mayCreate) builder.Add("NoCreat", "1");  // the Access driver never creates a missing database either
        return builder.Text();
    }

    // Creates the database with a SysParams table and the given rows.
    void CreateDatabase(const std::vector<std::pair<std::string, std::string>>& rows,
                        const std::string& table = "create table SysParams(ParamKey text, ParamValue text, Note text)")
    {
        odbc::Connection connection;
        connection.Open(ConnectionStringFor(HostPath(database), true));
        Execute(connection, table);
        odbc::Statement insert(connection, "insert into SysParams(ParamKey, ParamValue, Note) values(?, ?, 'kept')");
        for (const auto& [key, value] : rows) insert.Execute({key, value});
    }

    std::vector<Row> Rows()
    {
        odbc::Connection connection;
        connection.Open(ConnectionStringFor(HostPath(database)));
        return QueryRows(connection, "select ParamKey, ParamValue, Note from SysParams order by rowid");
    }

    void Write(const std::string& key, const std::string& value)
    {
        WriteSysParamTo(ConnectionStringFor(HostPath(database)), key, value);
    }

    ScratchFolder folder;
    std::filesystem::path database = folder / "Quellis.SDB";
};

TEST_F(SysParamTest, ReplacesTheValueOfTheKeyAndNothingElse)
{
    CreateDatabase({{"Version", "1.0"}, {"Server", "1.0"}});
    Write("Version", "1.1");
    EXPECT_EQ(Rows(), (std::vector<Row>{{"Version", "1.1", "kept"}, {"Server", "1.0", "kept"}}));
}

TEST_F(SysParamTest, InsertsOneRowWhenTheKeyIsAbsent)
{
    CreateDatabase({{"Server", "1.0"}});
    Write("Version", "1.1");
    EXPECT_EQ(Rows(), (std::vector<Row>{{"Server", "1.0", "kept"}, {"Version", "1.1", std::nullopt}}));
}

TEST_F(SysParamTest, GivesEveryRowOfTheKeyTheValue)
{
    CreateDatabase({{"Version", "0.9"}, {"Version", "1.0"}, {"Version", "1.0"}});
    Write("Version", "1.1");
    EXPECT_EQ(Rows(),
              (std::vector<Row>{{"Version", "1.1", "kept"}, {"Version", "1.1", "kept"}, {"Version", "1.1", "kept"}}));
}

TEST_F(SysParamTest, RecordsQuotesAndChineseAsGiven)
{
    CreateDatabase({{"Version", "1.0"}});
    Write("Version", "1.1'beta 版本");
    EXPECT_EQ(Rows(), (std::vector<Row>{{"Version", "1.1'beta 版本", "kept"}}));
    Write("Key'); drop table SysParams; --", "x");
    EXPECT_EQ(Rows(), (std::vector<Row>{{"Version", "1.1'beta 版本", "kept"},
                                        {"Key'); drop table SysParams; --", "x", std::nullopt}}));
}

// The writers are noexcept: an error that escaped would end the test program. What is checked is that a failure
// changes nothing: no database, folder or table is created, and no row is lost or half written.
TEST_F(SysParamTest, SwallowsEveryErrorSilently)
{
    // Missing database file, missing folder, unknown driver.
    Write("Version", "1.1");
    EXPECT_FALSE(std::filesystem::exists(database));
    WriteSysParamTo(ConnectionStringFor(HostPath(folder.Folder()) + "/no/such.SDB"), "Version", "1.1");
    WriteSysParamTo("Driver={No Such Driver};Dbq=x", "Version", "1.1");
    EXPECT_TRUE(std::filesystem::is_empty(folder.Folder()));
    // The real local database does not exist beside the test program (nor does the Access driver here).
    WriteSysParam("Version", "1.1");
    EXPECT_FALSE(std::filesystem::exists(ProgramDirectory() + "Data")) << "nothing is made beside the program";

    // Missing table: none is made, and the table that is there keeps its rows.
    CreateDatabase({}, "create table Other(ParamKey text)");
    odbc::Connection connection;
    connection.Open(ConnectionStringFor(HostPath(database)));
    Execute(connection, "insert into Other(ParamKey) values('Version')");
    Write("Version", "1.1");
    EXPECT_EQ(QueryRows(connection, "select name from sqlite_master"), (std::vector<Row>{{"Other"}}));
    EXPECT_EQ(QueryRows(connection, "select ParamKey from Other"), (std::vector<Row>{{"Version"}}));
}

TEST_F(SysParamTest, FailureAfterTheLookupKeepsTheOldValueAndLeavesNoLockBehind)
{
    CreateDatabase({{"Version", "1.0"}}, "create table SysParams(ParamKey text, ParamValue text check(ParamValue <> "
                                         "'refused'), Note text)");
    Write("Version", "refused");
    EXPECT_EQ(Rows(), (std::vector<Row>{{"Version", "1.0", "kept"}}));
    Write("Version", "1.1");
    EXPECT_EQ(Rows(), (std::vector<Row>{{"Version", "1.1", "kept"}}));

    // A connection or cursor left open would hold a lock that makes this writer time out.
    odbc::Connection writer;
    writer.Open(ConnectionStringFor(HostPath(database)));
    Execute(writer, "update SysParams set Note='written'");
    EXPECT_EQ(Rows(), (std::vector<Row>{{"Version", "1.1", "written"}}));
}

TEST(LocalConnectionStringTest, NamesTheAccessDatabaseBesideTheProgram)
{
    EXPECT_EQ(GetLocalConnectionString(), "Driver={Microsoft Access Driver (*.mdb)};Dbq=" + ProgramDirectory() +
                                              "Data\\Quellis.SDB;Uid=Admin;Pwd={lanterns4821}");
}
