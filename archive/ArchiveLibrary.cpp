#include "ArchiveLibrary.h"

#include "Paths.h"

ArchiveLibrary::ArchiveLibrary(const std::string& fileName)
    // The full path: the libraries are the program directory's, never ones found along the search path.
    : module_(LoadLibraryW(ToApiPath(ProgramDirectory() + fileName).c_str()))
{
}
