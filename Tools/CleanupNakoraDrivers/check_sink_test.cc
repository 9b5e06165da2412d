#include "check_sink.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "phase_test.h"

namespace {

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

using CheckListingTest = PhaseTest;

// cmd worked in another directory: an earlier run's listing left here must not
// stand for this run's, and none at all is no answer either. Nor is one that
// cannot be read to its end.
TEST_F(CheckListingTest, ListingNotWrittenHereCannotTell) {
  struct Case {
    void (*phase)(Sink&);
    const char* file;
    std::string heading;
  };
  const Case cases[] = {
      {RemoveDevices, "check-devicelist.txt", "Listing devices...\n"},
      {RemoveAudioDevices, "check-audiodevicelist.txt", "Listing audio devices...\n"},
      {CleanupDriverPackages, "check-driverlist.txt", "Listing installed drivers...\n"},
  };
  enum Mode { kElsewhere, kElsewhereOverAStaleOne, kReadFailsAfterOpening };
  for (const Case& c : cases) {
    for (Mode mode : {kElsewhere, kElsewhereOverAStaleOne, kReadFailsAfterOpening}) {
      Fake() = FakeOs();
      std::string expected = c.heading + "\t !!! Listing FAILED : " + c.file + " not found\n";
      if (mode == kElsewhereOverAStaleOne) {
        WriteFile(c.file, "oem1.inf | nkcommon.inf | No | MEDIA | Nakora Inc. |\n");
      }
      if (mode != kReadFailsAfterOpening) {
        Fake().listingsElsewhere = true;
      } else {
#ifdef _WIN32
        continue;  // a directory cannot be opened as a file there
#endif
        // A directory opens as a file here, and every read of it fails.
        Fake().listingsElsewhere = true;
        Fake().onCommand = [&c](const FakeCommand&) { std::filesystem::create_directory(c.file); };
        expected = c.heading + "\t Listing made : " + c.file +
                   "\n\t !!! Listing FAILED : " + c.file + " could not be read\n";
      }
      EXPECT_EQ(Check(c.phase), expected);
      EXPECT_EQ(Verdict(check.tally), kCannotTell) << c.file << " " << mode;
    }
  }
}

}  // namespace
