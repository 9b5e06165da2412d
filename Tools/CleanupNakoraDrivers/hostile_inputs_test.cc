// Listings no real tool writes: huge, binary, malformed. The phases must stay
// linear, quiet and within their own removals whatever the files hold.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "device_lines.h"
#include "phase_test.h"

namespace {

using HostileInputTest = PhaseTest;

// Every devcon call must be one of the program's own operations with an
// argument devcon cannot widen.
void ExpectOnlySafeDevconCalls() {
  for (const FakeCommand& command : Fake().commands) {
    if (command.program != u"devcon") continue;
    const WString& p = command.parameters;
    if (p.rfind(kRemoveDevice, 0) == 0) {
      EXPECT_TRUE(IsSafeInstanceId(p.substr(WString(kRemoveDevice).size())));
    } else {
      EXPECT_EQ(p.rfind(kDeleteDriverPackage, 0), 0u);
    }
  }
}

TEST_F(HostileInputTest, HugeLineWithoutLineFeedIsReadInLinearTime) {
  // 20 MB and then 200 MB of one line that names no endpoint word.
  double seconds[2];
  size_t sizes[2] = {20u << 20, 200u << 20};
  for (int i = 0; i < 2; ++i) {
    Stage("audiodevicelist.txt", std::string(sizes[i], 'x') + ": desc");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Cleanup(RemoveAudioDevices), "Removing audio devices...\n");
    seconds[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Fake() = FakeOs();
  }
  // Ten times the size: allow generous noise, but nothing near quadratic (100x).
  EXPECT_LT(seconds[1], 30 * seconds[0] + 0.5) << seconds[0] << "s vs " << seconds[1] << "s";
}

TEST_F(HostileInputTest, AMillionLines) {
  std::string listing;
  for (int i = 0; i < 1000000; ++i) {
    listing +=
        "SWD\\MMDEVAPI\\{0.0.0.00000000}.{" + std::to_string(i) + "}: Speakers (Realtek)\r\n";
  }
  listing += "SWD\\MMDEVAPI\\{last}: Nakora Speakers";
  Stage("audiodevicelist.txt", listing);
  Fake().named[u"SWD\\MMDEVAPI\\{last}"] = u"Nakora Speakers";
  Fake().treeIds[u"SWD\\MMDEVAPI\\{last}"] = {u"MMDEVAPI\\AudioEndpoints"};
  EXPECT_EQ(Cleanup(RemoveAudioDevices),
            "Removing audio devices...\n\t Removed :  Nakora Speakers\n");
  EXPECT_EQ(Fake().commands.size(), 2u);
}

TEST_F(HostileInputTest, RandomBinaryThroughEveryListingPhase) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 20; ++round) {
    std::string bytes(4096, '\0');
    for (char& c : bytes) c = static_cast<char>(byte(random));
    // Sprinkle in the words and separators the phases look for.
    for (const char* word : {"PID_0A00", "Nakora", "QVA", ".inf", "|", ":", "\n", "nkdev"}) {
      bytes.insert(static_cast<size_t>(byte(random)) * 16, word);
    }
    Fake() = FakeOs();
    for (const char* name : {"devicelist.txt", "audiodevicelist.txt", "driverlist.txt"}) {
      Stage(name, bytes);
    }
    Cleanup(RemoveDevices);
    Cleanup(RemoveAudioDevices);
    Cleanup(CleanupDriverPackages);
    ExpectOnlySafeDevconCalls();
  }
}

TEST_F(HostileInputTest, TableLinesWithTooFewBarsOrEmptyColumns) {
  std::string table;
  const char* rows[] = {
      "oem1.inf nkdev.inf Nakora",                   // no bar
      "oem1.inf | nkdev.inf",                        // one
      "oem1.inf | nkdev.inf | No",                   // two
      "oem1.inf | nkdev.inf | No | MEDIA",           // three
      "oem1.inf | nkdev.inf | No | MEDIA | Nakora",  // four: provider without a bar after it
      "|||||",                                       // five, all empty, no .inf
      ".inf|||||",                                   // five, provider empty
      "oem2.inf||||Nakora|",                         // original name empty
      "   |  nkdev.inf  |  |  |  Nakora  |",         // published name empty
  };
  for (const char* row : rows) table += std::string(row) + "\r\n";
  Stage("driverlist.txt", table);
  EXPECT_EQ(Cleanup(CleanupDriverPackages),
            "Scanning installed drivers...\nCleanning up driver packages...\n"
            "\t Nakora INF:  (nkdev.inf) - Removed\n");
  std::vector<FakeCommand> want = {
      {u"cmd", u" /C dism /online /get-drivers /format:table > driverlist.txt"},
      {u"devcon", u" -f /dp_delete "}};
  EXPECT_EQ(Fake().commands, want);
}

}  // namespace
