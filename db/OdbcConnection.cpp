#include "OdbcConnection.h"

#include <sqlext.h>

#include "OdbcError.h"
#include "Text.h"

namespace odbc {

UniqueHandle AllocateHandle(SQLSMALLINT type, SQLSMALLINT parentType, SQLHANDLE parent)
{
    SQLHANDLE handle = SQL_NULL_HANDLE;
    Check(SQLAllocHandle(type, parent, &handle), parentType, parent, "SQLAllocHandle");
    return UniqueHandle(handle, HandleFreer{type});
}

void Connection::Open(std::string_view connectionString)
{
    Close();
    if (environment_ == nullptr) {
        UniqueHandle environment = AllocateHandle(SQL_HANDLE_ENV, SQL_HANDLE_ENV, SQL_NULL_HANDLE);
        Check(SQLSetEnvAttr(environment.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              SQL_HANDLE_ENV, environment.get(), "SQLSetEnvAttr");
        environment_ = std::move(environment);
    }
    UniqueHandle connection = AllocateHandle(SQL_HANDLE_DBC, SQL_HANDLE_ENV, environment_.get());
    std::wstring text = Widen(connectionString);
    SQLSMALLINT completedLength = 0;
    Check(SQLDriverConnectW(connection.get(), nullptr, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS, nullptr, 0,
                            &completedLength, SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, connection.get(), "SQLDriverConnectW");
    connection_ = std::move(connection);
    autoCommit_ = true;
}

void Connection::Close() noexcept
{
    if (connection_ == nullptr) return;
    // A disconnect with a transaction pending fails; nothing of an unfinished transaction is meant to stay.
    if (!autoCommit_) SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_ROLLBACK);
    SQLDisconnect(connection_.get());
    connection_.reset();
    autoCommit_ = true;
}

SQLHDBC Connection::Handle() const
{
    if (connection_ == nullptr) throw EDatabaseError("The database connection is not open", "08003");
    return connection_.get();
}

void Connection::SetAutoCommit(bool on)
{
    const auto value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    Check(SQLSetConnectAttrW(Handle(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, connection_.get(), "SQLSetConnectAttrW");
    autoCommit_ = on;
}

void Connection::Commit()
{
    EndTransaction(SQL_COMMIT);
}

void Connection::Rollback()
{
    EndTransaction(SQL_ROLLBACK);
}

void Connection::EndTransaction(SQLSMALLINT completion)
{
    Check(SQLEndTran(SQL_HANDLE_DBC, Handle(), completion), SQL_HANDLE_DBC, connection_.get(), "SQLEndTran");
}

Transaction::Transaction(Connection& connection) : connection_(connection)
{
    connection_.SetAutoCommit(false);
}

Transaction::~Transaction()
{
    if (!connection_.IsOpen()) return;
    // A destructor cannot report a failure here, and the error that brought us here matters more.
    try {
        if (!committed_) connection_.Rollback();
    } catch (...) {
    }
    try {
        connection_.SetAutoCommit(true);
    } catch (...) {
    }
}

void Transaction::Commit()
{
    connection_.Commit();
    committed_ = true;
}

}  // namespace odbc
