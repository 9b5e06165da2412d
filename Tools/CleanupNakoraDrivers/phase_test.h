// The fixture of the phase tests: a fresh fake operating system in a fresh,
// empty current directory, and what a phase printed.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "check_sink.h"
#include "cleanup_sink.h"
#include "fake_os.h"
#include "test_io.h"

class PhaseTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void WriteFile(const char* name, const std::string& bytes);
  // What the listing command that writes `name` will put there.
  void Stage(const char* name, const std::string& bytes) { Fake().listings[name] = bytes; }
  // Runs a phase with the cleanup's sink, or with a fresh check's (kept in `check`).
  std::string Cleanup(void (*phase)(Sink&));
  std::string Check(void (*phase)(Sink&));

  CheckSink check;

 private:
  std::string previousDirectory_;
  std::string directory_;
};
