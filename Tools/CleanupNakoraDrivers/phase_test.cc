#include "phase_test.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

void PhaseTest::SetUp() {
  Fake() = FakeOs();
  previousDirectory_ = std::filesystem::current_path().string();
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "nkcleanup-" + std::string(info->test_suite_name()) + "-" + info->name() +
                     "-" + std::to_string(rand());
  std::replace(name.begin(), name.end(), '/', '_');
  std::filesystem::path directory = std::filesystem::temp_directory_path() / name;
  std::filesystem::create_directories(directory);
  directory_ = directory.string();
  std::filesystem::current_path(directory);
}

void PhaseTest::TearDown() {
  std::filesystem::current_path(previousDirectory_);
  std::filesystem::remove_all(directory_);
}

void PhaseTest::WriteFile(const char* name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

std::string PhaseTest::Cleanup(void (*phase)(Sink&)) {
  CleanupSink cleanup;
  return Printed([&] { phase(cleanup); });
}

std::string PhaseTest::Check(void (*phase)(Sink&)) {
  check = CheckSink();
  return Printed([&] { phase(check); });
}
