// The operating system's seam, faked for the phase tests and the fuzz targets:
// a recording command runner with scripted exit codes, a scripted device tree
// and drivers directory, and an in-memory installer key.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device_tree.h"
#include "text.h"

struct FakeCommand {
  WString program;
  WString parameters;
  bool operator==(const FakeCommand& other) const {
    return program == other.program && parameters == other.parameters;
  }
};

struct FakeOs {
  // Commands in the order they ran.
  std::vector<FakeCommand> commands;
  // Exit codes by parameter text; anything not named exits with 0.
  std::map<WString, int32_t> exitCodes;
  // Runs before the exit code is looked up, e.g. to write a listing file.
  std::function<void(const FakeCommand&)> onCommand;

  // Instances the device tree still has after devcon's removal; with
  // treeAnswers false, it cannot be asked.
  std::set<WString> stillPresent;
  bool treeAnswers = true;
  std::vector<WString> lookedUp;
  // Instances the tree has before any removal, with its names for them, and
  // with their hardware and compatible IDs.
  std::map<WString, WString> named;
  std::map<WString, std::vector<WString>> treeIds;
  // When set, the tree is this instead: whether it holds an instance, and what.
  std::function<bool(const WString&, TreeDevice&)> describe;

  // What cmd's ">" redirection writes, by file name; "" when not given. With
  // listingsElsewhere, cmd works in another directory and writes none here.
  std::map<std::string, std::string> listings;
  bool listingsElsewhere = false;

  // Files in the drivers directory by pattern, and the error looking fails
  // with. A name that is a plain file is one that lists itself.
  std::map<WString, std::vector<WString>> driverFiles;
  int32_t driverFilesError = 0;

  // HKLM\Software\Nakora: absent, or present with these subkeys in
  // enumeration order. Deletions shift the indexes as the registry's do.
  bool parentExists = false;
  std::vector<WString> subkeys;
  std::set<WString> undeletable;
  int64_t enumFailsAt = -1;                // index at which enumeration returns an error
  std::vector<std::string> registryCalls;  // "open", "enum 0", "delete Name", "close"
};

FakeOs& Fake();

// Narrow test text to a wide string, byte for character, and back for messages
// (anything above U+00FF as '?').
WString W(const std::string& bytes);
std::string N(const WString& text);
