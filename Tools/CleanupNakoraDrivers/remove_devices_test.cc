#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "device_lines.h"
#include "exempt_product_ids.h"
#include "phase_test.h"
#include "phases.h"
#include "tool_commands.h"

namespace {

TEST(ExemptProductIdsTest, AreSortedDistinctAndInRange) {
  std::vector<int32_t> ids(std::begin(ExemptProductIds), std::end(ExemptProductIds));
  EXPECT_EQ(ids.size(), 111u);
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  EXPECT_EQ(std::set<int32_t>(ids.begin(), ids.end()).size(), ids.size());
  for (int32_t id : ids) {
    EXPECT_GE(id, 0x0001);
    EXPECT_LE(id, 0xFFFF);
  }
}

TEST(ReadProductIdTest, ScansLikeHexWidthFour) {
  struct Case {
    const char* text;  // begins with "PID_"
    int32_t id;
  };
  const Case cases[] = {
      {"PID_0A01&MI_00", 0x0A01},
      {"PID_0a01", 0x0A01},
      {"PID_12345", 0x1234},  // only the first four digits
      {"PID_ZZZZ", 0},        // no hex digit
      {"PID_", 0},
      {"PID_7", 7},
      {"PID_07&", 7},
      {"PID_ 00F", 0x00F},  // leading white space is skipped, not counted
      {"PID_\t12345", 0x1234},
      {"PID_0x1F", 0x1F},  // the prefix counts toward the width
      {"PID_0x12345", 0x12},
      {"PID_+123", 0x123},
      {"PID_-001", -1},
      {"PID_0xZZ", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadProductId(W(c.text), 0), c.id) << c.text;
}

// devcon findall pads the instance ID to 60 columns.
std::string Padded(const std::string& id) { return id + std::string(60 - id.size(), ' '); }

std::string DeviceLine(const std::string& id, const std::string& description) {
  return Padded(id) + ": " + description + "\r\n";
}

WString RemoveParameters(const std::string& id) { return kRemoveDevice + W(Padded(id)); }

// Hardware and compatible IDs the tree may hold for an instance.
const std::vector<WString> kOurIds = {u"USB\\VID_E7A9&PID_0A00&REV_0102", u"USB\\Class_03"};
const std::vector<WString> kOtherMakersIds = {u"USB\\VID_046D&PID_C08B", u"USB\\Class_03"};

class RemoveDevicesTest : public PhaseTest {
 protected:
  // The tree holds the instance, with IDs the listings' patterns match.
  void InTree(const std::string& id) { Fake().treeIds[W(id)] = kOurIds; }
  std::vector<WString> RemovedIds() {
    std::vector<WString> ids;
    for (const FakeCommand& c : Fake().commands) {
      if (c.program == u"devcon") ids.push_back(c.parameters);
    }
    return ids;
  }
};

TEST_F(RemoveDevicesTest, RunsBothListingsThenRemovesEachDeviceLine) {
  Stage("devicelist.txt",
        DeviceLine("USB\\VID_E7A9&PID_0A00\\6&1", "Nakora K70 Keyboard") +
            DeviceLine("USB\\VID_E7A9&PID_0001\\6&2", "Nakora Receiver (exempt)") +
            DeviceLine("HID\\VID_E7A9&PID_ZZZZ\\7&3", "No product ID digits") +
            "2 matching device(s) found.\r\n" + DeviceLine("USB\\QVA_HEADSET\\8&4", "QVA Headset") +
            DeviceLine("USB\\VID_E7A9&PID_0A00\\6&1", "Nakora K70 Keyboard") +
            "1 matching device(s) found.\r\n");
  Fake().exitCodes[RemoveParameters("HID\\VID_E7A9&PID_ZZZZ\\7&3")] = 1;
  for (const char* id : {"USB\\VID_E7A9&PID_0A00\\6&1", "HID\\VID_E7A9&PID_ZZZZ\\7&3"}) InTree(id);
  Fake().treeIds[u"USB\\QVA_HEADSET\\8&4"] = {u"USB\\VID_1234&PID_0001", u"USB\\qva_headset"};

  EXPECT_EQ(Cleanup(RemoveDevices),
            "Removing devices...\n"
            "\t Removed :  Nakora K70 Keyboard\n"
            "\t !!! Remove FAILED :  No product ID digits\n"
            "\t Removed :  QVA Headset\n"
            "\t Removed :  Nakora K70 Keyboard\n");
  ASSERT_GE(Fake().commands.size(), 2u);
  EXPECT_EQ(Fake().commands[0],
            (FakeCommand{u"cmd", u" /C devcon findall *VID_E7A9* > devicelist.txt"}));
  EXPECT_EQ(Fake().commands[1],
            (FakeCommand{u"cmd", u" /C devcon findall *QVA* >> devicelist.txt"}));
  std::vector<WString> removed = RemovedIds();
  ASSERT_EQ(removed.size(), 4u);
  EXPECT_EQ(removed[0], RemoveParameters("USB\\VID_E7A9&PID_0A00\\6&1"));
  EXPECT_EQ(removed[1], RemoveParameters("HID\\VID_E7A9&PID_ZZZZ\\7&3"));
  EXPECT_EQ(removed[2], RemoveParameters("USB\\QVA_HEADSET\\8&4"));
  EXPECT_EQ(removed[3], removed[0]) << "a device in both listings is removed twice";
  // Its second entry follows the first: the tree, which no longer has it,
  // is asked only whether the removal was done.
  EXPECT_EQ(
      std::count(Fake().lookedUp.begin(), Fake().lookedUp.end(), u"USB\\VID_E7A9&PID_0A00\\6&1"),
      3);
}

TEST_F(RemoveDevicesTest, LineDecisions) {
  // What the tree holds of the instance the line names.
  enum Tree { kOurs, kOtherMakers, kKept, kNone, kCannotAsk };
  struct Case {
    const char* name;
    std::string line;
    std::string output;  // after the heading
    std::vector<WString> removals;
    Tree tree = kOurs;
  };
  const Case cases[] = {
      {"exempt product ID passes in silence", "USB\\VID_E7A9&PID_0001\\1: Receiver\n", "", {}},
      {"exempt ID anywhere on the line", "X:desc PID_C01D\n", "", {}},
      {"five hex digits read as four", "USB\\VID_E7A9&PID_00011\\1: Receiver\n", "", {}},
      {"first PID_ only",
       "A&PID_0A00&PID_0001:d\n",
       "\t Removed : d\n",
       {u" -f remove @A&PID_0A00&PID_0001"}},
      {"no hex digit: removed", "A:PID_G\n", "\t Removed : PID_G\n", {u" -f remove @A"}},
      {"no colon", "USB\\VID_E7A9&PID_0A00\\1 Keyboard\n", "", {}},
      // An empty ID would name the root of the device tree.
      {"colon first: empty ID", ": desc\n", "\t !!! Remove FAILED :  desc\n", {}},
      {"blanks-only ID", "   : desc\n", "\t !!! Remove FAILED :  desc\n", {}},
      {"nameless device: its bare ID",
       "USB\\VID_E7A9&PID_0A00\\1\n",
       "\t Removed : USB\\VID_E7A9&PID_0A00\\1\n",
       {u" -f remove @USB\\VID_E7A9&PID_0A00\\1"}},
      {"nameless exempt device", "USB\\VID_E7A9&PID_0001\\1\n", "", {}},
      {"the tree's IDs name an exempt product", "usb\\vid_e7a9&pid_0001\\1: N\n", "", {}, kKept},
      {"bare token with a comma", "USB\\VID_E7A9,1\n", "", {}},
      {"bare token without a backslash", "USB_VID_E7A9\n", "", {}},
      {"bare token with a high byte", "USB\\VID_E7A9\xE9\n", "", {}},
      // A name cut short ran into the next entry: neither ID is certain.
      {"two entries run together",
       Padded("USB\\VID_E7A9&PID_0A00\\1") + ": Nakora " + Padded("HID\\VID_E7A9&PID_0A01\\2") +
           ": Mouse\n",
       "\t !!! Remove FAILED :  Nakora " + Padded("HID\\VID_E7A9&PID_0A01\\2") + ": Mouse\n",
       {}},
      {"run together, the first one exempt",
       "USB\\VID_E7A9&PID_0001\\1: ReceiverHID\\VID_E7A9&PID_0A01\\2: Mouse\n",
       "\t !!! Remove FAILED :  ReceiverHID\\VID_E7A9&PID_0A01\\2: Mouse\n",
       {}},
      {"second colon in the description", "A:b:c\n", "\t Removed : b:c\n", {u" -f remove @A"}},
      {"high byte printed as that byte",
       "A: Caf\xE9\n",
       "\t Removed :  Caf\xE9\n",
       {u" -f remove @A"}},
      {"control characters printed as ?",
       std::string("A: x\0y\rb\x1b[2Jc\x7f\td\n", 17),
       "\t Removed :  x?y?b?[2Jc?\td\n",
       {u" -f remove @A"}},
      // devcon would widen these: never handed over, reported as failed.
      {"wildcard", "USB\\VID_E7A9*: Everything\n", "\t !!! Remove FAILED :  Everything\n", {}},
      {"quote", "USB\\\"X\" Y: Quoted\n", "\t !!! Remove FAILED :  Quoted\n", {}},
      {"tab", "USB\\X\tY: Tabbed\n", "\t !!! Remove FAILED :  Tabbed\n", {}},
      {"blank then text", "USB\\X Y   : Split\n", "\t !!! Remove FAILED :  Split\n", {}},
      {"NUL in ID", std::string("USB\\X\0Y: Cut\n", 13), "\t !!! Remove FAILED :  Cut\n", {}},
      {"summary line", "3 matching device(s) found.\n", "", {}},
      // devcon writes ": " after the ID; an ID holds colons, never a blank.
      {"colons in a serial number",
       DeviceLine("USB\\VID_E7A9&PID_0A78\\A1:B2:C3:D4", "Nakora Serial Dock"),
       "\t Removed :  Nakora Serial Dock\n",
       {RemoveParameters("USB\\VID_E7A9&PID_0A78\\A1:B2:C3:D4")}},
      // A line feed in a device's name starts a line of text it chose.
      {"another maker's device on a line of a name",
       "USB\\VID_046D&PID_C08B\\5&11111111&0&3: y\n",
       "\t !!! Remove FAILED :  y\n",
       {},
       kOtherMakers},
      {"an instance the tree lacks",
       "USB\\VID_E7A9&PID_0A00\\9: x\n",
       "\t !!! Remove FAILED :  x\n",
       {},
       kNone},
      {"the tree cannot be asked",
       "USB\\VID_E7A9&PID_0A00\\9: x\n",
       "\t !!! Remove FAILED :  x\n",
       {},
       kCannotAsk},
  };
  for (const Case& c : cases) {
    Fake() = FakeOs();
    WString id, description;
    if (!SplitDeviceLine(W(c.line), id, description)) id = W(c.line.substr(0, c.line.size() - 1));
    TrimSpaces(id);
    if (c.tree == kOurs) Fake().treeIds[id] = kOurIds;
    if (c.tree == kOtherMakers) Fake().treeIds[id] = kOtherMakersIds;
    if (c.tree == kKept) Fake().treeIds[id] = {u"USB\\X", u"usb\\vid_e7a9&pid_0001&rev_01"};
    Fake().treeAnswers = c.tree != kCannotAsk;
    Stage("devicelist.txt", c.line);
    EXPECT_EQ(Cleanup(RemoveDevices), "Removing devices...\n" + c.output) << c.name;
    EXPECT_EQ(RemovedIds(), c.removals) << c.name;
  }
}

TEST_F(RemoveDevicesTest, FailedFirstListingEndsThePhaseAfterBothRan) {
  Stage("devicelist.txt", "USB\\QVA: left from the second listing\n");
  Fake().exitCodes[u" /C devcon findall *VID_E7A9* > devicelist.txt"] = 9009;
  EXPECT_EQ(Cleanup(RemoveDevices), "Removing devices...\n");
  ASSERT_EQ(Fake().commands.size(), 2u);
  EXPECT_EQ(Fake().commands[1].parameters, u" /C devcon findall *QVA* >> devicelist.txt");
}

TEST_F(RemoveDevicesTest, FailedSecondListingIsIgnored) {
  Stage("devicelist.txt", "USB\\VID_E7A9&PID_0A00: K\n");
  InTree("USB\\VID_E7A9&PID_0A00");
  Fake().exitCodes[u" /C devcon findall *QVA* >> devicelist.txt"] = 1;
  EXPECT_EQ(Cleanup(RemoveDevices), "Removing devices...\n\t Removed :  K\n");
}

TEST_F(RemoveDevicesTest, RemovalThatCannotStartIsReportedFailed) {
  Stage("devicelist.txt", "USB\\VID_E7A9&PID_0A00: K");  // no final LF
  InTree("USB\\VID_E7A9&PID_0A00");
  Fake().exitCodes[u" -f remove @USB\\VID_E7A9&PID_0A00"] = -1;
  EXPECT_EQ(Cleanup(RemoveDevices), "Removing devices...\n\t !!! Remove FAILED :  K\n");
}

}  // namespace
