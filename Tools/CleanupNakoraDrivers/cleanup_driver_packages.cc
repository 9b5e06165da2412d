#include "phases.h"
#include "print_line.h"
#include "run_command.h"
#include "tool_commands.h"

const WString VendorInfNames[4] = {u"nkcommon.inf", u"nakoramixer.inf", u"qvavad.inf",
                                   u"qvavad2.inf"};

bool HasProviderWord(const WString& provider) {
  for (const char16_t* word : {u"Nakora", u"QVA", u"C-MEDIA"}) {
    if (Find(provider, word) != kNotFound) return true;
  }
  return false;
}

bool IsVendorInfName(const WString& infName) {
  if (Find(infName, u"nk") != kNotFound && Find(infName, u"dev") != kNotFound) return true;
  if (Find(infName, u"nakora") != kNotFound) return true;
  for (const WString& name : VendorInfNames) {
    if (Find(infName, name) != kNotFound) return true;
  }
  return false;
}

void CleanupDriverPackages() {
  PrintLine("Scanning installed drivers...\n");
  if (RunCommand(kCmd, kListDriverPackages) != 0) return;
  PrintLine("Cleanning up driver packages...\n");

  enum { kPublishedName, kOriginalName, kProvider = 4, kColumns };
  ListingStream listing;
  OpenListing(listing, kDriverListFile);
  WString line;
  while (ReadLine(listing, line)) {
    if (Find(line, u".inf") == kNotFound) continue;
    // A table row: published name | original name | inbox | class | provider | ...
    WString columns[kColumns];
    size_t start = 0;
    bool complete = true;
    for (WString& column : columns) {
      size_t bar = ReadField(line, column, u"|", start);
      if (bar == kNotFound) {
        complete = false;
        break;
      }
      start = bar + 1;
    }
    if (!complete || !HasProviderWord(columns[kProvider])) continue;
    if (!IsVendorInfName(columns[kOriginalName])) continue;

    const WString& published = columns[kPublishedName];
    if (RunCommand(kDevcon, kDeleteDriverPackage + published) == 0) {
      PrintLine("\t Nakora INF: %S (%S) - Removed\n", published.c_str(),
                columns[kOriginalName].c_str());
    } else {
      PrintLine("\t Nakora INF: %S (%S) - Remove FAILED!!!\n", published.c_str(),
                columns[kOriginalName].c_str());
    }
  }
  CloseListing(listing);
}
