// The floor a signed package must rise above: the version of the last signed package installed in this program
// directory, kept in UpdateKey.floor beside UpdateKey.pub. A signature says who built a package, not that it is
// newer; without the floor, anyone holding an older signed package could place it again and downgrade the suite.
// Kept only where packages are signed: the install writes it in the same transaction as the files
// (InstallTransaction::PlaceVersionFloor), so it is undone with them.
#pragma once

#include <string>

// Refuses (ERefusal) a signed package of this version unless the version is dotted numbers above the floor. With
// no floor file (the first signed install here) any dotted version passes. A floor file that is there but cannot
// be read, or holds no version, refuses every package: the floor is never guessed.
void RefuseReplayedPackage(const std::string& programDirectory, const std::string& packageVersion);

// The floor file's bytes for this version.
std::string VersionFloorText(const std::string& version);
