#include "install/VersionRecord.h"

#include "Common.h"

void RecordInstalledVersion(const std::string& programDirectory, const std::string& version)
{
    WriteSysParam(programDirectory, "Version", version);
}
