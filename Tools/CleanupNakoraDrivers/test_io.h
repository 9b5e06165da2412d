// What a test reads back: a file's bytes, and what some code printed.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

// The whole of a file, or "" when there is none.
inline std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `code` and returns its standard output.
template <typename Code>
std::string Printed(Code code) {
  ::testing::internal::CaptureStdout();
  code();
  fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}
