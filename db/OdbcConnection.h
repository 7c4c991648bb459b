// An ODBC connection and its transactions. Every handle is owned here and freed on every path.
#pragma once

#include <memory>
#include <string_view>

#include <windows.h>
#include <sql.h>

namespace odbc {

// Frees one ODBC handle of the type it was allocated with.
struct HandleFreer {
    SQLSMALLINT type;
    void operator()(SQLHANDLE handle) const noexcept { SQLFreeHandle(type, handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleFreer>;

// Allocates a handle of `type` under `parent` (SQL_NULL_HANDLE for an environment); raises EDatabaseError on failure.
UniqueHandle AllocateHandle(SQLSMALLINT type, SQLSMALLINT parentType, SQLHANDLE parent);

// A connection made with a full connection string, never with a dialog. It starts closed, can be opened again (which
// closes the earlier connection first) and is closed by its destructor, so that it can live as long as its owner.
class Connection {
public:
    Connection() = default;
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Closes any open connection, then connects with SQLDriverConnectW and SQL_DRIVER_NOPROMPT. The connection is in
    // autocommit mode. Raises EDatabaseError with the driver's text when the connection fails; it then stays closed.
    void Open(std::string_view connectionString);
    // Rolls back a transaction still open, disconnects and frees the handle. Never fails.
    void Close() noexcept;
    bool IsOpen() const noexcept { return connection_ != nullptr; }

    // The connection handle for statements; raises when the connection is closed.
    SQLHDBC Handle() const;

    void SetAutoCommit(bool on);
    void Commit();
    void Rollback();

private:
    void EndTransaction(SQLSMALLINT completion);

    UniqueHandle environment_{nullptr, {SQL_HANDLE_ENV}};  // declared first: freed after the connection
    UniqueHandle connection_{nullptr, {SQL_HANDLE_DBC}};
    bool autoCommit_ = true;
};

// One transaction on an open connection: autocommit is off while it lives. Unless Commit() succeeded, the destructor
// rolls back explicitly (a failed statement leaves the earlier ones pending, and a later commit would keep them).
// Autocommit is switched back on at the end either way.
class Transaction {
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void Commit();

private:
    Connection& connection_;
    bool committed_ = false;
};

}  // namespace odbc
