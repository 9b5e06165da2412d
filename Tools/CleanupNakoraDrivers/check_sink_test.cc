#include "check_sink.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "phase_test.h"

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(CheckVerdictTest, ExitCodeAndLastLine) {
  struct Case {
    CheckTally tally;
    CheckVerdict verdict;
    std::string summary;
  };
  const Case cases[] = {
      {{}, kNoneLeft, "Nakora driver stack: none left"},
      // Devices come back with Windows' own drivers after the rescan.
      {{3, 0, 0, 0, {}}, kNoneLeft, "Nakora driver stack: none left"},
      {{0, 2, 1, 0, {}}, kSomeLeft, "Nakora driver stack: 2 packages, 1 driver file left"},
      {{0, 1, 2, 1, {}},
       kSomeLeft,
       "Nakora driver stack: 1 package, 2 driver files, 1 registry key left"},
      {{0, 0, 0, 3, {}}, kSomeLeft, "Nakora driver stack: 3 registry keys left"},
      // What could not be looked at may hide anything, whatever else was found.
      {{0, 4, 0, 0, {"device listing"}},
       kCannotTell,
       "Nakora driver stack: could not check (device listing failed)"},
      {{0, 0, 0, 0, {"audio device listing", "driver package listing"}},
       kCannotTell,
       "Nakora driver stack: could not check (audio device listing, driver package listing "
       "failed)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Verdict(c.tally), c.verdict) << c.summary;
    EXPECT_EQ(Summary(c.tally), c.summary);
  }
}

using SinksTest = PhaseTest;

// cmd worked in another directory: an earlier run's listing left here must not
// stand for this run's, and none at all is no answer either. Nor is one that
// cannot be read to its end: what it did not reach may hide anything.
TEST_F(SinksTest, ListingNotWrittenHere) {
  struct Case {
    void (*phase)(Sink&);
    std::string file, cleanupHeading, checkHeading;
  };
  const Case cases[] = {
      {RemoveDevices, "devicelist.txt", "Removing devices...\n", "Listing devices...\n"},
      {RemoveAudioDevices, "audiodevicelist.txt", "Removing audio devices...\n",
       "Listing audio devices...\n"},
      {CleanupDriverPackages, "driverlist.txt",
       "Scanning installed drivers...\nCleanning up driver packages...\n",
       "Listing installed drivers...\n"},
  };
  enum Mode { kElsewhere, kElsewhereOverAStaleOne, kReadFailsAfterOpening };
  for (const Case& c : cases) {
    for (Mode mode : {kElsewhere, kElsewhereOverAStaleOne, kReadFailsAfterOpening}) {
#ifdef _WIN32
      if (mode == kReadFailsAfterOpening) continue;  // a directory cannot be opened as a file
#endif
      for (bool checking : {false, true}) {
        std::string file = (checking ? "check-" : "") + c.file;
        Fake() = FakeOs();
        Fake().listingsElsewhere = true;
        if (mode == kElsewhereOverAStaleOne) {
          WriteFile(file.c_str(),
                    "oem1.inf | nkcommon.inf | No | MEDIA | Nakora Inc. |\n"
                    "USB\\VID_E7A9&PID_0A00\\1: Nakora Keyboard\n");
        }
        // A directory opens as a file here, and every read of it fails.
        if (mode == kReadFailsAfterOpening) {
          Fake().onCommand = [&file](const FakeCommand&) {
            std::filesystem::create_directory(file);
          };
        }
        const bool unread = mode == kReadFailsAfterOpening;
        std::string expected =
            checking
                ? c.checkHeading + (unread ? "\t Listing made : " + file + "\n" : "") +
                      "\t !!! Listing FAILED : " + file +
                      (unread ? " could not be read\n" : " not found\n")
                : c.cleanupHeading +
                      (unread ? "\t !!! Listing cut short : " : "\t !!! Listing not found : ") +
                      file + "\n";
        EXPECT_EQ(checking ? Check(c.phase) : Cleanup(c.phase), expected);
        if (checking) EXPECT_EQ(Verdict(check.tally), kCannotTell) << file << " " << mode;
        for (const FakeCommand& command : Fake().commands)
          EXPECT_EQ(command.program, u"cmd") << file;
      }
    }
  }
}

// The check names, in order, what the cleanup then acts on, on one machine
// that holds an entry of every kind.
TEST_F(SinksTest, TheCheckPreviewsWhatTheCleanupDoes) {
  auto runOnTheMachine = [this](Sink& sink) {
    Fake() = FakeOs();
    for (std::string prefix : {"", "check-"}) {
      Stage((prefix + "devicelist.txt").c_str(),
            "USB\\VID_E7A9&PID_0A00\\1   : Nakora Keyboard\r\n"
            "USB\\VID_E7A9&PID_0A07\\2   : Nakora Receiver\r\n"  // the tree names it exempt
            "USB\\VID_E7A9&PID_0A09\\3   : Not in the tree\r\n"
            "USB\\VID_E7A9&PID_0A0B\\4   : Cut USB\\VID_E7A9&PID_0A00\\1   : Nakora Keyboard\r\n"
            "HID\\QVA_CONTROL\\5\r\n"  // nameless
            "USB\\VID_046D&PID_C08B\\6   : Other maker\r\n");
      Stage((prefix + "audiodevicelist.txt").c_str(),
            "SWD\\MMDEVAPI\\{A}: Speakers (Nakora)\r\nSWD\\MMDEVAPI\\{B}: Speakers (Realtek)\r\n"
            "USB\\VID_E7A9&PID_0A00\\1: Nakora\r\n");  // no endpoint
      Stage((prefix + "driverlist.txt").c_str(),
            "oem1.inf | nkcommon.inf | No | MEDIA | Nakora Inc. | 5/12/2023 | 6.0.1.8\r\n"
            "oem2.inf | other.inf | No | MEDIA | Other Inc. | 5/12/2023 | 1.0\r\n"
            "oem3.inf | qvavad.inf | No | MEDIA | QVA | 5/12/2023 | 2.0\r\n");
    }
    Fake().treeIds = {{u"USB\\VID_E7A9&PID_0A00\\1", {u"USB\\VID_E7A9&PID_0A00&REV_0102"}},
                      {u"HID\\QVA_CONTROL\\5", {u"HID\\QVA_CONTROL"}},
                      {u"USB\\VID_E7A9&PID_0A07\\2", {u"USB\\VID_E7A9&PID_0A07"}},
                      {u"USB\\VID_046D&PID_C08B\\6", {u"USB\\VID_046D&PID_C08B"}},
                      {u"SWD\\MMDEVAPI\\{A}", {u"MMDEVAPI\\AudioEndpoints"}}};
    Fake().named[u"SWD\\MMDEVAPI\\{A}"] = u"Speakers (Nakora)";
    Fake().driverFiles = {{u"NkDev_*.sys", {u"NkDev_A.sys", u"NkDev_B.sys"}},
                          {u"NkCommon.sys", {u"NkCommon.sys"}}};
    Fake().parentExists = true;
    Fake().subkeys = {u"DrvA", u"Settings", u"UsbDriver"};
    return SplitLines(Printed([&sink] {
      for (auto phase : {RemoveDevices, RemoveAudioDevices, CleanupDriverPackages,
                         RemoveDriverFiles, CleanupInstallerRegistry}) {
        phase(sink);
      }
    }));
  };

  // What the cleanup prints, or asks of the registry, for each of the check's
  // lines that names an act.
  const struct {
    std::string check, cleanup, end;
  } kActs[] = {
      {"\t To remove : ", "\t Removed : ", ""},
      {"\t !!! Cannot remove : ", "\t !!! Remove FAILED : ", ""},
      {"\t Nakora INF: ", "\t Nakora INF: ", " - Removed"},
      {"\t Registry key : Software\\Nakora\\", "delete ", ""},
  };
  std::vector<std::string> expected;
  for (const std::string& line : runOnTheMachine(check)) {
    for (const auto& act : kActs) {
      if (line.rfind(act.check, 0) == 0) {
        expected.push_back(act.cleanup + line.substr(act.check.size()) + act.end);
      }
    }
  }
  EXPECT_EQ(Summary(check.tally),
            "Nakora driver stack: 2 packages, 3 driver files, 2 registry keys left");

  CleanupSink cleanup;
  std::vector<std::string> acts;
  for (const std::string& line : runOnTheMachine(cleanup)) {
    if (line[0] == '\t') acts.push_back(line);
  }
  for (const std::string& call : Fake().registryCalls) {
    if (call.rfind("delete ", 0) == 0) acts.push_back(call);
  }
  EXPECT_EQ(acts, expected);
  // The driver files the check counted went to del, one command per pattern.
  const size_t n = Fake().commands.size();
  EXPECT_EQ(Fake().commands[n - 2].parameters, DeleteDriverFileCommand(u"NkDev_*.sys"));
  EXPECT_EQ(Fake().commands[n - 1].parameters, DeleteDriverFileCommand(u"NkCommon.sys"));
}

}  // namespace
