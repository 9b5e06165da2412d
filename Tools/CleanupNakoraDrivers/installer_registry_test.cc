#include <gtest/gtest.h>

#include "phase_test.h"

namespace {

TEST(IsInstallerKeyNameTest, CaseSensitiveWords) {
  struct Case {
    WString name;
    bool installer;
  };
  const Case cases[] = {
      {u"NkDrvSetup", true}, {u"AudioDriver", true}, {u"Drivers", true}, {u"XDrvX", true},
      {u"drv", false},       {u"DRIVER", false},     {u"driver", false}, {u"DRV", false},
      {u"Settings", false},  {u"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsInstallerKeyName(c.name), c.installer);
}

using CleanupInstallerRegistryTest = PhaseTest;

TEST_F(CleanupInstallerRegistryTest, EnumeratesFullyBeforeDeleting) {
  Fake().parentExists = true;
  // Adjacent qualifying keys: deleting during enumeration would skip DrvB.
  Fake().subkeys = {u"DrvA", u"DrvB", u"Settings", u"UsbDriver"};
  EXPECT_EQ(Cleanup(CleanupInstallerRegistry), "Removing driver installer registry...\n");
  std::vector<std::string> want = {
      "open",   "enum 0",      "enum 1",      "enum 2",           "enum 3",
      "enum 4", "delete DrvA", "delete DrvB", "delete UsbDriver", "close"};
  EXPECT_EQ(Fake().registryCalls, want);
  EXPECT_EQ(Fake().subkeys, std::vector<WString>{u"Settings"});
}

TEST_F(CleanupInstallerRegistryTest, Outcomes) {
  struct Case {
    const char* name;
    bool parentExists;
    std::vector<WString> subkeys;
    std::set<WString> undeletable;
    int64_t enumFailsAt;
    std::string output;  // after the heading
    std::vector<WString> left;
  };
  const Case cases[] = {
      {"no parent key", false, {u"DrvA"}, {}, -1, "", {u"DrvA"}},
      {"no subkeys", true, {}, {}, -1, "", {}},
      {"failed deletion reported, others go on",
       true,
       {u"DrvA", u"DrvB"},
       {u"DrvA"},
       -1,
       "\t Error deleting registry : Software\\Nakora\\DrvA\n",
       {u"DrvA"}},
      {"enumeration error keeps what was collected",
       true,
       {u"DrvA", u"DrvB"},
       {},
       1,
       "\t !!! Listing cut short : Software\\Nakora, error code 5\n",
       {u"DrvB"}},
      {"name above U+00FF printed as ?",
       true,
       {u"Drv\u0416\u00E9"},
       {u"Drv\u0416\u00E9"},
       -1,
       "\t Error deleting registry : Software\\Nakora\\Drv?\xE9\n",
       {u"Drv\u0416\u00E9"}},
      {"longest name that fits", true, {u"Drv" + WString(256, u'x')}, {}, -1, "", {}},
      {"name too long ends the enumeration",
       true,
       {u"Drv" + WString(257, u'x'), u"DrvB"},
       {},
       -1,
       "\t !!! Listing cut short : Software\\Nakora, error code 234\n",
       {u"Drv" + WString(257, u'x'), u"DrvB"}},
  };
  for (const Case& c : cases) {
    Fake() = FakeOs();
    Fake().parentExists = c.parentExists;
    Fake().subkeys = c.subkeys;
    Fake().undeletable = c.undeletable;
    Fake().enumFailsAt = c.enumFailsAt;
    // Where the cleanup's listing is cut short, the check cannot tell.
    Check(CleanupInstallerRegistry);
    EXPECT_EQ(Verdict(check.tally) == kCannotTell, c.output.find("cut short") != std::string::npos);
    EXPECT_EQ(Cleanup(CleanupInstallerRegistry),
              "Removing driver installer registry...\n" + c.output)
        << c.name;
    EXPECT_EQ(Fake().subkeys, c.left) << c.name;
  }
}

}  // namespace
