// What the fuzz targets need around the real decision code and the test
// suite's fake operating system: the input put where the phases look for it,
// a device tree that holds some instances of its own choosing and lets go of
// every removed one, and an independent reading of the listing bytes to check
// the phases against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device_tree.h"
#include "fake_os.h"

// A fresh fake with the tree below, every command succeeding and no registry
// key; then the input in a private scratch directory, and again whenever the
// listing command that writes `name` runs.
void StartInput(const char* name, const uint8_t* data, size_t size);

// Whether the fake tree holds an instance (ID without padding, any case), and
// what it holds of it: a hash of the ID picks whether it is there, which IDs
// it has (the maker's, the brand's in small letters, another maker's, a kept product's in small
// letters; an endpoint's or not) and its name ("Nakora ...", "QVA ...", another maker's).
bool FakeTreeHolds(const std::string& instanceId, TreeDevice& device);

// Lines as a reading of the whole file yields them: split at LF, a CR
// directly before an LF dropped, a last line without LF kept.
std::vector<std::string> OracleLines(const uint8_t* data, size_t size);

// Aborts with the message when the condition fails: a finding.
void Require(bool condition, const char* what);
