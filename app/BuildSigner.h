// The author's signing key for one build: with SigningKey set in config.ini, F2 signs the package it builds.
#pragma once

#include <optional>
#include <string>

#include "PackageSigner.h"

// Nothing without SigningKey. Settled before anything is written: refuses (ERefusal) a key that lies where the
// build packs from or writes to, and one that cannot be read.
std::optional<signing::PackageSigner> PrepareSigner(const std::string& programDir);
