// The runner against a real small program that logs its parameter text and
// exits with the code that text names.
#include "run_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "test_io.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Where the probe program lies, as this platform names paths.
WString ProbePath() {
  const char* path = getenv("NK_PROBE");
  std::string text = path ? path : "";
#ifdef _WIN32
  // CMake writes forward slashes, which the shell does not take on Windows;
  // a Unix path seen from Wine lies on drive Z:.
  if (!text.empty() && text[0] == '/') text = "Z:" + text;
  for (char& c : text) c = c == '/' ? '\\' : c;
#endif
  return WidenBytes(text);
}

class RunCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ProbePath().empty()) << "NK_PROBE names the probe program";
    log_ = "nkprobe-" + std::to_string(rand()) + ".log";
#ifdef _WIN32
    _putenv_s("NK_PROBE_LOG", log_.c_str());
#else
    setenv("NK_PROBE_LOG", log_.c_str(), 1);
#endif
  }
  void TearDown() override { std::remove(log_.c_str()); }

  // Runs and returns stdout of the runner itself.
  int32_t Run(const WString& program, const WString& parameters, std::string& output) {
    int32_t result = 0;
    output = Printed([&] { result = RunCommand(program, parameters); });
    return result;
  }

  std::string log_;
};

TEST_F(RunCommandTest, ReturnsTheExitCodeAndPrintsNothing) {
  struct Case {
    const char* parameters;
    int32_t result;
  };
  const Case cases[] = {
      {" exit 0", 0},
      {" exit 1", 1},
      {" exit 255", 255},
      {" no exit code", 0},
#ifdef _WIN32
      {" exit 0xFFFFFFFF", -1},  // the same value as a failed launch
      {" exit 0x80000000", INT32_MIN},
#endif
  };
  for (const Case& c : cases) {
    std::string output;
    EXPECT_EQ(Run(ProbePath(), WidenBytes(c.parameters), output), c.result) << c.parameters;
    EXPECT_EQ(output, "") << c.parameters;
  }
}

TEST_F(RunCommandTest, HandsTheParameterTextOverWholeAndLeavesTheCallersStrings) {
  const std::string texts[] = {
      " -f remove @USB\\VID_E7A9&PID_0A00\\6&1F2E3D4C&0&1                     ",
      " two  blanks\tand a tab",
      " \"quoted words\" and a \\\"backslash quote",
      " caf\xE9 and \xFF",
      " ",
  };
  std::string expectedLog;
  for (const std::string& text : texts) {
    const WString program = ProbePath();
    const WString parameters = WidenBytes(text);
    WString programCopy = program, parametersCopy = parameters;
    std::string output;
    EXPECT_EQ(Run(program, parameters, output), 0) << text;
    EXPECT_EQ(program, programCopy);
    EXPECT_EQ(parameters, parametersCopy);
    expectedLog += text + "\n";
  }
  EXPECT_EQ(ReadFile(log_), expectedLog);
}

TEST_F(RunCommandTest, MissingProgramPrintsOneLaunchFailureAndGivesMinusOne) {
  std::string output;
  EXPECT_EQ(Run(u"nk-no-such-program-here", u" exit 0", output), -1);
  const std::string prefix = "\t \t Failed to launch process Error Code ";
  ASSERT_EQ(output.compare(0, prefix.size(), prefix), 0) << output;
  size_t colon = output.find(": ", prefix.size());
  ASSERT_NE(colon, std::string::npos) << output;
  int code = std::stoi(output.substr(prefix.size(), colon - prefix.size()));
#ifdef _WIN32
  // The missing file itself, not a failure to show an error box about it.
  EXPECT_EQ(code, ERROR_FILE_NOT_FOUND);
  EXPECT_GT(output.size(), colon + 3) << "carries the system's text";
#else
  EXPECT_EQ(code, 2);  // ENOENT
  EXPECT_EQ(output.substr(colon), ": No such file or directory\n");
#endif
  EXPECT_EQ(ReadFile(log_), "") << "nothing ran";
}

#ifdef _WIN32
TEST(ReportLaunchFailureTest, ErrorWithoutSystemTextStillPrintsItsLine) {
  // An application-defined code: the system has no text for it and allocates nothing.
  const DWORD code = 0x20000000 | 4242;
  EXPECT_EQ(Printed([code] {
              SetLastError(code);
              ReportLaunchFailure();
            }),
            "\t \t Failed to launch process Error Code 536875154: "
            "(no system text for this error)\n");
}
#endif

TEST_F(RunCommandTest, FindsABareProgramName) {
  std::string output;
#ifdef _WIN32
  EXPECT_EQ(Run(u"cmd", u" /C exit 3", output), 3);
#else
  EXPECT_EQ(Run(u"false", u" ignored", output), 1);
  EXPECT_EQ(Run(u"true", u" ignored", output), 0);
#endif
  EXPECT_EQ(output, "");
}

}  // namespace
