// What the fuzz targets need around the real decision code: a recording
// command runner (every command succeeds), an absent registry, a device tree
// that has let go of every removed device, and an
// independent reading of the listing bytes to check the phases against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "listing.h"

struct RecordedCommand {
  WString program;
  WString parameters;
};

std::vector<RecordedCommand>& Recorded();

// Puts the input where the phases look for it, in a private scratch directory,
// and again whenever the listing command that writes `name` runs.
void WriteListing(const char* name, const uint8_t* data, size_t size);

// Lines as a text-mode reading yields them: up to the first Ctrl+Z, split at
// LF, a CR directly before an LF dropped, a last line without LF kept.
std::vector<std::string> OracleLines(const uint8_t* data, size_t size);

WString Widen(const std::string& bytes);

// Aborts with the message when the condition fails: a finding.
void Require(bool condition, const char* what);
