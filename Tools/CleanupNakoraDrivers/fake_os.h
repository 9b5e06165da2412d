// The operating system's seam, faked for the phase tests: a recording command
// runner with scripted exit codes, and an in-memory installer key.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "listing.h"

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

// Each phase test runs in a fresh empty current directory with a fresh fake,
// and reads back what the phase printed.
class PhaseTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void WriteFile(const char* name, const std::string& bytes);
  // What the listing command that writes `name` will put there.
  void Stage(const char* name, const std::string& bytes) { Fake().listings[name] = bytes; }
  std::string ReadFile(const char* name);
  // Runs the phase and returns its standard output.
  std::string Run(void (*phase)());

 private:
  std::string previousDirectory_;
  std::string directory_;
};

// Narrow test text to a wide string, byte for character, and back for messages
// (anything above U+00FF as '?').
WString W(const std::string& bytes);
std::string N(const WString& text);
