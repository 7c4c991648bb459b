#include <climits>

#include <gtest/gtest.h>

#include "DbTestSupport.h"
#include "OdbcError.h"
#include "OdbcStatement.h"

// The ODBC layer against PostgreSQL's driver, reached through Wine's odbc32.
class OdbcTest : public testing::Test {
protected:
    ScratchSchema schema;
    odbc::Connection& connection = schema.Connection();
};

TEST_F(OdbcTest, ErrorsCarryTheDriversText)
{
    try {
        odbc::Statement query(connection, "select * from no_such_table");
        query.Execute();
        FAIL() << "no error raised";
    } catch (const EDatabaseError& error) {
        EXPECT_NE(std::string(error.what()).find("no_such_table"), std::string::npos) << error.what();
        EXPECT_EQ(error.SqlState(), "42P01");
    }
    odbc::Connection unopened;
    EXPECT_THROW(odbc::Statement(unopened, "select 1"), EDatabaseError);
}

TEST_F(OdbcTest, ValuesTravelUnchanged)
{
    schema.Execute("create table t(id integer, s text, n integer)");
    const std::string longText(5000, 'x');  // beyond both the read buffer and the short-text limit
    odbc::Statement insert(connection, "insert into t(id, s, n) values(?, ?, ?)");
    insert.Execute({1, std::string("中文 'q\" ;{}"), INT32_MIN});
    insert.Execute({2, std::string(), INT32_MAX});
    insert.Execute({3, longText + "尾", 0});
    schema.Execute("insert into t(id) values(4)");

    odbc::Statement query(connection, "select s, n from t where id >= ? order by id");
    query.Execute({1});
    ASSERT_TRUE(query.Fetch());
    EXPECT_EQ(query.GetText(1), "中文 'q\" ;{}");
    EXPECT_EQ(query.GetInteger(2), INT32_MIN);
    ASSERT_TRUE(query.Fetch());
    EXPECT_EQ(query.GetText(1), "");
    EXPECT_EQ(query.GetInteger(2), INT32_MAX);
    ASSERT_TRUE(query.Fetch());
    EXPECT_EQ(query.GetText(1), longText + "尾");
    ASSERT_TRUE(query.Fetch());
    EXPECT_EQ(query.GetText(1), std::nullopt);
    EXPECT_EQ(query.GetInteger(2), std::nullopt);
    EXPECT_FALSE(query.Fetch());
}

TEST_F(OdbcTest, ChangesReportTheirRowsAndNoMatchIsNoError)
{
    schema.Execute("create table t(k text)");
    schema.Execute("insert into t values('a'), ('a'), ('b')");
    odbc::Statement remove(connection, "delete from t where k=?");
    EXPECT_EQ(remove.Execute({std::string("none")}), 0);
    EXPECT_EQ(remove.Execute({std::string("a")}), 2);
    EXPECT_EQ(odbc::Statement(connection, "update t set k='c' where k='none'").Execute(), 0);
}

TEST_F(OdbcTest, TransactionKeepsOnlyWhatWasCommitted)
{
    schema.Execute("create table t(k text)");
    {
        odbc::Transaction transaction(connection);
        schema.Execute("insert into t values('dropped')");
    }
    {
        odbc::Transaction transaction(connection);
        schema.Execute("insert into t values('kept')");
        transaction.Commit();
    }
    schema.Execute("insert into t values('autocommitted')");

    // Seen from another session: only committed work is visible there.
    odbc::Connection other;
    other.Open(ServerConnectionString(schema.Settings()));
    EXPECT_EQ(QueryRows(other, "select k from t order by k"), (std::vector<Row>{{"autocommitted"}, {"kept"}}));
}

TEST_F(OdbcTest, OpeningAgainReplacesTheConnection)
{
    schema.Execute("create temporary table session_marker(k text)");
    connection.Open(ServerConnectionString(schema.Settings()));
    EXPECT_THROW(schema.Execute("select * from session_marker"), EDatabaseError);  // a new session
    ServerSettings wrong = schema.Settings();
    wrong.password = "wrong";
    EXPECT_THROW(connection.Open(ServerConnectionString(wrong)), EDatabaseError);
    EXPECT_FALSE(connection.IsOpen());
}
