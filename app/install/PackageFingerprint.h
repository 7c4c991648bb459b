// Which package a file is: its SHA-256, so that a committed install can recognise the package it installed.
#pragma once

#include <string>

// The SHA-256 of the file's bytes as 64 lower-case hex digits, through the system's CNG provider. A file that
// cannot be read raises EFileOperationError; a provider that fails raises Exception.
std::string Sha256OfFile(const std::string& path);
