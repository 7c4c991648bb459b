// Publication: a built package registered on the update server's database, with the connection settings of
// config.ini, through the window's connection, which stays open between publications.
#pragma once

#include <string>

class UpdateLog;
namespace odbc {
class Connection;
}

class TPublication {
public:
    // programDirectory: where config.ini is (ending in '\').
    TPublication(odbc::Connection& server, std::string programDirectory);

    // True when all of it is there; false, without a word, when there is no package file to publish. Refuses
    // (ERefusal) with its message a package too large to register, a connection that fails and a write the server
    // refuses; any other database error goes on to the caller. The log is told the rows written, or the server's
    // answer, never the connection string or the password.
    bool Publish(const std::string& packagePath, const std::string& toVersion, const std::string& fromVersion,
                 UpdateLog& log);

private:
    odbc::Connection& server_;
    std::string programDirectory_;
};
