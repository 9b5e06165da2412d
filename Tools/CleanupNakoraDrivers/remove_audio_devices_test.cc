#include <gtest/gtest.h>

#include "phase_test.h"
#include "phases.h"
#include "tool_commands.h"

namespace {

using RemoveAudioDevicesTest = PhaseTest;

TEST_F(RemoveAudioDevicesTest, EndpointWordsDecide) {
  struct Case {
    const char* name;
    std::string line;
    std::string output;  // after the heading
    WString removal;     // empty: none
    // An instance the tree has, and its name there; every entry needs it.
    std::pair<WString, WString> inTree = {};
    bool treeAnswers = true;
  };
  const Case cases[] = {
      {"maker's name",
       "SWD\\MMDEVAPI\\{0.0.0.00000000}.{A1}: Speakers (Nakora HS70)\n",
       "\t Removed :  Speakers (Nakora HS70)\n",
       u" -f remove @SWD\\MMDEVAPI\\{0.0.0.00000000}.{A1}",
       {u"SWD\\MMDEVAPI\\{0.0.0.00000000}.{A1}", u"Speakers (Nakora HS70)"}},
      {"small letters only", "SWD\\MMDEVAPI\\{A2}: Speakers (nakora HS70)\n", "", u""},
      {"capitals only", "SWD\\MMDEVAPI\\{A3}: NAKORA Mic\n", "", u""},
      {"brand word with another maker",
       "SWD\\MMDEVAPI\\{A4}: Realtek QVA Virtual 7.1\n",
       "\t Removed :  Realtek QVA Virtual 7.1\n",
       u" -f remove @SWD\\MMDEVAPI\\{A4}",
       {u"SWD\\MMDEVAPI\\{A4}", u"Realtek QVA Virtual 7.1"}},
      {"brand word in small letters", "SWD\\MMDEVAPI\\{A5}: qva headset\n", "", u""},
      {"word in the instance ID counts",
       "SWD\\MMDEVAPI\\QVA{A6}: Headphones\n",
       "\t Removed :  Headphones\n",
       u" -f remove @SWD\\MMDEVAPI\\QVA{A6}",
       {u"SWD\\MMDEVAPI\\QVA{A6}", u"QVA Headphones"}},
      {"word in the instance ID only: the tree's name lacks it",
       "SWD\\MMDEVAPI\\QVA{A9}: Headphones\n",
       "\t !!! Remove FAILED :  Headphones\n",
       u"",
       {u"SWD\\MMDEVAPI\\QVA{A9}", u"Headphones"}},
      {"word but no colon", "SWD\\MMDEVAPI\\{A7} Nakora Speakers\n", "", u""},
      {"no word", "SWD\\MMDEVAPI\\{A8}: Realtek Speakers\n", "", u""},
      {"word with a wildcard ID", "SWD\\MMDEVAPI\\*: Nakora all\n",
       "\t !!! Remove FAILED :  Nakora all\n", u""},
      // A name devcon could not write ends its entry, line end included.
      {"run together: each entry judged alone",
       "SWD\\MMDEVAPI\\{C1}: SWD\\MMDEVAPI\\{C2}: Microphone (Nakora)\n",
       "\t Removed :  Microphone (Nakora)\n",
       u" -f remove @SWD\\MMDEVAPI\\{C2}",
       {u"SWD\\MMDEVAPI\\{C2}", u"Microphone (Nakora)"}},
      {"run together: the maker's word is the next entry's",
       "SWD\\MMDEVAPI\\{C3}: Realtek MiSWD\\MMDEVAPI\\{C4}: Nakora Mic\n",
       "\t Removed :  Nakora Mic\n",
       u" -f remove @SWD\\MMDEVAPI\\{C4}",
       {u"SWD\\MMDEVAPI\\{C4}", u"Nakora Mic"}},
      // A later entry may be text a device put in its own name.
      {"later entry the tree names otherwise",
       "SWD\\MMDEVAPI\\{D1}: Headphones (x SWD\\MMDEVAPI\\{D2}: Nakora)\n",
       "\t !!! Remove FAILED :  Nakora)\n",
       u"",
       {u"SWD\\MMDEVAPI\\{D2}", u"Speakers (Realtek)"}},
      {"later entry the tree lacks",
       "SWD\\MMDEVAPI\\{D3}: Headphones (x SWD\\MMDEVAPI\\{D4}: Nakora)\n",
       "\t !!! Remove FAILED :  Nakora)\n", u""},
      {"later entry named with the other word",
       "SWD\\MMDEVAPI\\{D5}: SWD\\MMDEVAPI\\{D6}: Nakora Mic\n",
       "\t !!! Remove FAILED :  Nakora Mic\n",
       u"",
       {u"SWD\\MMDEVAPI\\{D6}", u"QVA Mic"}},
      {"nameless endpoint with the word in its ID",
       "SWD\\MMDEVAPI\\QVA{C5}\n",
       "\t !!! Remove FAILED : SWD\\MMDEVAPI\\QVA{C5}\n",
       u"",
       {u"SWD\\MMDEVAPI\\QVA{C5}", u""}},
      // A line feed in an endpoint's name starts a line of text the device chose.
      {"first entry the tree names otherwise",
       "SWD\\MMDEVAPI\\{E1}: Nakora)\n",
       "\t !!! Remove FAILED :  Nakora)\n",
       u"",
       {u"SWD\\MMDEVAPI\\{E1}", u"Speakers (Realtek)"}},
      {"first entry the tree lacks", "SWD\\MMDEVAPI\\{E2}: Nakora Mic\n",
       "\t !!! Remove FAILED :  Nakora Mic\n", u""},
      {"the tree cannot be asked",
       "SWD\\MMDEVAPI\\{E3}: Nakora Mic\n",
       "\t !!! Remove FAILED :  Nakora Mic\n",
       u"",
       {u"SWD\\MMDEVAPI\\{E3}", u"Nakora Mic"},
       false},
      {"empty ID", ": Nakora Mic\n", "\t !!! Remove FAILED :  Nakora Mic\n", u""},
  };
  for (const Case& c : cases) {
    Fake() = FakeOs();
    if (!c.inTree.first.empty()) Fake().named.insert(c.inTree);
    for (const auto& [id, name] : Fake().named) Fake().treeIds[id] = {u"MMDEVAPI\\AudioEndpoints"};
    Fake().treeAnswers = c.treeAnswers;
    Stage("audiodevicelist.txt", c.line);
    EXPECT_EQ(Cleanup(RemoveAudioDevices), "Removing audio devices...\n" + c.output) << c.name;
    std::vector<FakeCommand> want = {
        {u"cmd", u" /C devcon findall *MMDEVAPI* > audiodevicelist.txt"}};
    if (!c.removal.empty()) want.push_back({u"devcon", c.removal});
    EXPECT_EQ(Fake().commands, want) << c.name;
  }
}

TEST_F(RemoveAudioDevicesTest, FailedListingOrRemoval) {
  Stage("audiodevicelist.txt", "SWD\\MMDEVAPI\\{B1}: Nakora Mic\nSWD\\MMDEVAPI\\{B2}: QVA Out\n");
  Fake().named = {{u"SWD\\MMDEVAPI\\{B1}", u"Nakora Mic"}, {u"SWD\\MMDEVAPI\\{B2}", u"QVA Out"}};
  for (const auto& [id, name] : Fake().named) Fake().treeIds[id] = {u"MMDEVAPI\\AudioEndpoints"};
  Fake().exitCodes[u" -f remove @SWD\\MMDEVAPI\\{B1}"] = 2;
  EXPECT_EQ(Cleanup(RemoveAudioDevices),
            "Removing audio devices...\n"
            "\t !!! Remove FAILED :  Nakora Mic\n"
            "\t Removed :  QVA Out\n");

  Fake() = FakeOs();
  Fake().exitCodes[u" /C devcon findall *MMDEVAPI* > audiodevicelist.txt"] = 1;
  EXPECT_EQ(Cleanup(RemoveAudioDevices), "Removing audio devices...\n");
  EXPECT_EQ(Fake().commands.size(), 1u);
}

}  // namespace
