// The author's file list FilesToUpdate\Files.xml: the step a package builds, and which files it carries and where
// each goes, read and checked before the build writes anything.
#pragma once

#include <string>
#include <vector>

#include "UpdateDescriptor.h"

class TXMLDocument;

// One line of the list: where the file is now and what the package says of it.
struct SourceFile {
    std::string source;  // as written in the list, relative to FilesToUpdate\ (named in messages)
    std::string fullPath;
    PackageFile entry;
};

struct FileList {
    std::string fromVersion;
    std::string toVersion;
    std::vector<SourceFile> files;  // in order
};

// Reads the list through the document. A list that cannot be loaded leaves the document inactive, and reading it
// then raises "No active document"; an entry without src or des raises EVariantTypeCastError.
FileList ReadFileList(TXMLDocument& xml, const std::string& programDir);

// A package that misses a file, carries two files under one name, or a file the install keeps a name or place
// for, would reach every user: refuses (ERefusal) the first such file. `signing`: whether this build signs, which
// makes the signature's name the install's own.
void CheckFileList(const std::vector<SourceFile>& files, bool signing);

// Every payload's SHA-256 on its descriptor entry, for a signed package; refuses a file that cannot be read.
void AddDigests(std::vector<SourceFile>& files);
