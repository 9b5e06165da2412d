#include "phases.h"

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

bool JudgeDriverTableLine(const WString& line, WString& published, WString& original) {
  if (Find(line, u".inf") == kNotFound) return false;
  // A table row: published name | original name | inbox | class | provider | ...
  enum { kPublishedName, kOriginalName, kProvider = 4, kColumns };
  WString columns[kColumns];
  size_t start = 0;
  for (WString& column : columns) {
    size_t bar = ReadField(line, column, u"|", start);
    if (bar == kNotFound) return false;
    start = bar + 1;
  }
  if (!HasProviderWord(columns[kProvider]) || !IsVendorInfName(columns[kOriginalName])) {
    return false;
  }
  published = columns[kPublishedName];
  original = columns[kOriginalName];
  return true;
}

void CleanupDriverPackages(Sink& sink) {
  sink.Begin(Phase::kDriverPackages);
  WString published, original;
  ReadPhaseListing(sink, kDriverPackageListing, [&](const WString& line) {
    if (JudgeDriverTableLine(line, published, original)) sink.DriverPackage(published, original);
  });
}
