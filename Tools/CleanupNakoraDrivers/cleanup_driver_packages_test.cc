#include <gtest/gtest.h>

#include "phase_test.h"
#include "phases.h"
#include "tool_commands.h"

namespace {

TEST(IsVendorInfNameTest, Rules) {
  struct Case {
    WString name;
    bool vendor;
  };
  const Case cases[] = {
      {u"nkdev.inf", true},     // nk ... dev
      {u"devicenk.inf", true},  // either order
      {u"nk_usb_dev_filter.inf", true},
      {u"nkaudio.inf", false},  // nk without dev
      {u"usbdev.inf", false},   // dev without nk
      {u"nakora_hid.inf", true},
      {u"Nakora_hid.inf", false},  // exact case only
      {u"Nkdev.inf", false},
      {u"nkcommon.inf", true},  // also list entry 1
      {u"nakoramixer.inf", true},
      {u"qvavad.inf", true},
      {u"qvavad2.inf", true},
      {u"oem_qvavad.inf_x", true},  // contained anywhere
      {u"QVAVAD.INF", false},
      {u"qvavad.INF", false},
      {u"cmaudio.inf", false},
      {u"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsVendorInfName(c.name), c.vendor) << N(c.name);
  }
}

TEST(HasProviderWordTest, CaseSensitiveWords) {
  EXPECT_TRUE(HasProviderWord(u"Nakora Inc."));
  EXPECT_TRUE(HasProviderWord(u"QVA Audio"));
  EXPECT_TRUE(HasProviderWord(u"C-MEDIA"));
  EXPECT_FALSE(HasProviderWord(u"nakora inc."));
  EXPECT_FALSE(HasProviderWord(u"C-Media"));
  EXPECT_FALSE(HasProviderWord(u"Microsoft"));
  EXPECT_FALSE(HasProviderWord(u""));
}

// A table row as dism /format:table prints it.
std::string Row(const std::string& published, const std::string& original,
                const std::string& provider) {
  auto pad = [](std::string s, size_t n) {
    return s.size() < n ? s + std::string(n - s.size(), ' ') : s;
  };
  return pad(published, 14) + " | " + pad(original, 18) + " | No    | MEDIA  | " +
         pad(provider, 20) + " | 5/12/2023  | 6.0.1.8\r\n";
}

using CleanupDriverPackagesTest = PhaseTest;

TEST_F(CleanupDriverPackagesTest, TableDecisions) {
  struct Case {
    const char* name;
    std::string line;
    std::string output;  // after both headings
    WString deletion;    // empty: none
  };
  const Case cases[] = {
      {"maker and list entry", Row("oem12.inf", "nkcommon.inf", "Nakora Inc."),
       "\t Nakora INF: oem12.inf (nkcommon.inf) - Removed\n", u" -f /dp_delete oem12.inf"},
      {"brand provider", Row("oem3.inf", "qvavad2.inf", "QVA Labs"),
       "\t Nakora INF: oem3.inf (qvavad2.inf) - Removed\n", u" -f /dp_delete oem3.inf"},
      {"chip maker with vendor name", Row("oem4.inf", "nakoramixer.inf", "C-MEDIA"),
       "\t Nakora INF: oem4.inf (nakoramixer.inf) - Removed\n", u" -f /dp_delete oem4.inf"},
      {"chip maker's own package", Row("oem5.inf", "cmudax3.inf", "C-MEDIA"), "", u""},
      {"vendor name, other provider", Row("oem6.inf", "nkcommon.inf", "Contoso"), "", u""},
      {"provider in small letters", Row("oem7.inf", "nkcommon.inf", "nakora inc."), "", u""},
      {"name in other case", Row("oem8.inf", "NKCommon.inf", "Nakora Inc."), "", u""},
      {"nk and dev rule", Row("oem9.inf", "nkusbdev.inf", "Nakora Inc."),
       "\t Nakora INF: oem9.inf (nkusbdev.inf) - Removed\n", u" -f /dp_delete oem9.inf"},
      {"no .inf on the line", "oem10.INF | nkcommon.INF | No | MEDIA | Nakora | x\n", "", u""},
      {"provider last, no bar after", "oem11.inf | nkcommon.inf | No | MEDIA | Nakora Inc.\n", "",
       u""},
      {"four bars", "oem13.inf|nkcommon.inf|No|Nakora|\n", "", u""},
      {"bare five bars", "a.inf|nkdev||||\n", "", u""},
      {"empty columns, provider qualifies", "|nkdev.inf|||Nakora|\n",
       "\t Nakora INF:  (nkdev.inf) - Removed\n", u" -f /dp_delete "},
      {"header line",
       "Published Name | Original File Name | Inbox | Class Name | Provider Name |\n", "", u""},
      {"rule line", "-------------- | ------------------ | ----- | ------ | -----------\n", "",
       u""},
  };
  for (const Case& c : cases) {
    Fake() = FakeOs();
    Stage("driverlist.txt", c.line);
    EXPECT_EQ(Cleanup(CleanupDriverPackages),
              "Scanning installed drivers...\nCleanning up driver packages...\n" + c.output)
        << c.name;
    std::vector<FakeCommand> want = {
        {u"cmd", u" /C dism /online /get-drivers /format:table > driverlist.txt"}};
    if (!c.deletion.empty()) want.push_back({u"devcon", c.deletion});
    EXPECT_EQ(Fake().commands, want) << c.name;
  }
}

TEST_F(CleanupDriverPackagesTest, FailuresAndOrder) {
  Stage("driverlist.txt", "Deployment Image Servicing and Management tool\r\n\r\n" +
                              Row("oem1.inf", "nkcommon.inf", "Nakora Inc.") +
                              Row("oem2.inf", "qvavad.inf", "QVA") +
                              Row("oem1.inf", "nkcommon.inf", "Nakora Inc."));
  Fake().exitCodes[u" -f /dp_delete oem1.inf"] = -1;
  EXPECT_EQ(Cleanup(CleanupDriverPackages),
            "Scanning installed drivers...\n"
            "Cleanning up driver packages...\n"
            "\t Nakora INF: oem1.inf (nkcommon.inf) - Remove FAILED!!!\n"
            "\t Nakora INF: oem2.inf (qvavad.inf) - Removed\n"
            "\t Nakora INF: oem1.inf (nkcommon.inf) - Remove FAILED!!!\n");

  Fake() = FakeOs();
  Fake().exitCodes[u" /C dism /online /get-drivers /format:table > driverlist.txt"] = 9009;
  EXPECT_EQ(Cleanup(CleanupDriverPackages), "Scanning installed drivers...\n");
}

}  // namespace
