#include <climits>

#include <gtest/gtest.h>

#include "DbTestSupport.h"
#include "UpdateServer.h"

// PostgreSQL registered as "SQL Server" stands in for the update server. Each test has a schema of its own.
class PublishTest : public testing::Test {
protected:
    void CreateTables(bool withFileSize = true, bool withSysParams = true)
    {
        schema.Execute(std::string("create table QS_UpdateFiles(ID serial primary key, FromVersion varchar(50), "
                                   "ToVersion varchar(50), FileName varchar(255)") +
                       (withFileSize ? ", FileSize integer)" : ")"));
        if (withSysParams) schema.Execute("create table QS_SysParams(ParamKey varchar(50), ParamValue varchar(255))");
    }

    void Publish(const PackageRecord& package, const ServerSettings& settings)
    {
        PublishPackageRecord(cnnServer, ServerConnectionString(settings), package);
    }
    void Publish(const PackageRecord& package) { Publish(package, schema.Settings()); }

    std::vector<Row> PackageRows()
    {
        return schema.Query("select FromVersion, ToVersion, FileName, FileSize from QS_UpdateFiles order by ID");
    }
    std::vector<Row> ParamRows() { return schema.Query("select ParamKey, ParamValue from QS_SysParams order by 1, 2"); }

    ScratchSchema schema;
    odbc::Connection cnnServer;  // as the form keeps it: open between publications
    const PackageRecord first{"1.0", "1.1", "Quellis1.0_1.1.sky", 1234};
    const PackageRecord second{"1.1", "1.2", "Quellis1.1_1.2.sky", 99};
};

TEST_F(PublishTest, RepublishingReplacesThePackagesRowOnly)
{
    CreateTables();
    Publish(first);
    EXPECT_TRUE(cnnServer.IsOpen());
    Publish(second);
    Publish({"1.0", "1.1", "Quellis1.0_1.1.sky", 4321});
    EXPECT_EQ(PackageRows(), (std::vector<Row>{{"1.1", "1.2", "update/Quellis1.1_1.2.sky", "99"},
                                               {"1.0", "1.1", "update/Quellis1.0_1.1.sky", "4321"}}));
    EXPECT_EQ(ParamRows(), (std::vector<Row>{{"Version", "1.1"}}));
}

TEST_F(PublishTest, InsertsTheVersionRowWhenThereIsNone)
{
    CreateTables();
    schema.Execute("insert into QS_SysParams values('Other', '7')");
    Publish(first);
    EXPECT_EQ(ParamRows(), (std::vector<Row>{{"Other", "7"}, {"Version", "1.1"}}));
}

TEST_F(PublishTest, OverwritesEveryVersionRow)
{
    CreateTables();
    schema.Execute("insert into QS_SysParams values('Version', '0.9'), ('Other', '7'), ('Version', '1.0')");
    Publish(first);
    EXPECT_EQ(ParamRows(), (std::vector<Row>{{"Other", "7"}, {"Version", "1.1"}, {"Version", "1.1"}}));
}

TEST_F(PublishTest, QuotesAndChineseArriveAsGiven)
{
    CreateTables();
    Publish({"1.0'beta", "二.0 '正式'", "Quellis1.0'beta_二.sky", INT32_MAX});
    EXPECT_EQ(PackageRows(),
              (std::vector<Row>{{"1.0'beta", "二.0 '正式'", "update/Quellis1.0'beta_二.sky", "2147483647"}}));
    EXPECT_EQ(ParamRows(), (std::vector<Row>{{"Version", "二.0 '正式'"}}));
}

TEST_F(PublishTest, FailedConnectionWritesNothingAndClosesTheOldOne)
{
    CreateTables();
    Publish(first);

    ServerSettings wrongPassword = schema.Settings();
    wrongPassword.password = "wrong";
    try {
        Publish(second, wrongPassword);
        FAIL() << "no error raised";
    } catch (const EServerConnectError& error) {
        EXPECT_NE(std::string(error.what()).find("password"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(cnnServer.IsOpen());

    ServerSettings noServer = schema.Settings();
    noServer.port = "1";
    EXPECT_THROW(Publish(second, noServer), EServerConnectError);

    EXPECT_EQ(PackageRows().size(), 1u);
    EXPECT_EQ(ParamRows(), (std::vector<Row>{{"Version", "1.1"}}));
}

TEST_F(PublishTest, MissingConfigIniLetsTheConnectionAttemptFail)
{
    CreateTables();
    ScratchFolder folder;
    const ServerSettings settings = ReadServerSettings((folder / "config.ini").string());
    EXPECT_THROW(Publish(first, settings), EServerConnectError);
    EXPECT_TRUE(PackageRows().empty());
}

TEST_F(PublishTest, FailingInsertRollsBackTheDelete)
{
    CreateTables(false);
    schema.Execute("insert into QS_UpdateFiles(FromVersion, ToVersion, FileName) "
                   "values('0.9', '1.1', 'update/Quellis1.0_1.1.sky')");
    EXPECT_THROW(Publish(first), EServerAccessError);
    EXPECT_EQ(schema.Query("select FromVersion, FileName from QS_UpdateFiles"),
              (std::vector<Row>{{"0.9", "update/Quellis1.0_1.1.sky"}}));
    EXPECT_TRUE(ParamRows().empty());
}

TEST_F(PublishTest, FailingVersionRowRollsBackThePackageRowWithTheDriversText)
{
    CreateTables(true, false);
    schema.Execute("insert into QS_UpdateFiles(FromVersion, ToVersion, FileName, FileSize) "
                   "values('0.9', '1.1', 'update/Quellis1.0_1.1.sky', 5)");
    try {
        Publish(first);
        FAIL() << "no error raised";
    } catch (const EServerConnectError& error) {
        FAIL() << "reported as a connection failure: " << error.what();
    } catch (const EServerAccessError& error) {
        FAIL() << "reported as an access failure: " << error.what();
    } catch (const EDatabaseError& error) {
        EXPECT_NE(std::string(error.what()).find("qs_sysparams"), std::string::npos) << error.what();
    }
    EXPECT_EQ(PackageRows(), (std::vector<Row>{{"0.9", "1.1", "update/Quellis1.0_1.1.sky", "5"}}));

    // Once the table is there, the same publication goes through.
    schema.Execute("create table QS_SysParams(ParamKey varchar(50), ParamValue varchar(255))");
    Publish(first);
    EXPECT_EQ(PackageRows(), (std::vector<Row>{{"1.0", "1.1", "update/Quellis1.0_1.1.sky", "1234"}}));
}
