// Publication: a built package registered on the update server's database, with the connection settings of
// config.ini. The form's connection is kept open between publications.
#pragma once

#include <string>

#include "FlowView.h"

namespace odbc {
class Connection;
}

class TPublication {
public:
    TPublication(IFlowView& view, odbc::Connection& server);

    // True when all of it is there. Shows its own messages for the failures it expects (no package, too large,
    // no connection, a refused write); any other database error goes on to the caller.
    bool Publish(const std::string& packagePath, const std::string& toVersion, const std::string& fromVersion);

private:
    IFlowView& view_;
    odbc::Connection& server_;
};
