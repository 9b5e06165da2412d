#include "tool_commands.h"

#include "listing.h"
#include "run_command.h"

MadeListing MakeListing(const Listing& listing, const char* prefix, bool stopAtFailure) {
  MadeListing made;
  made.listing = &listing;
  made.file = std::string(prefix) + listing.file;
  bool discarded = DiscardListing(made.file.c_str());
  const WString file = WidenBytes(made.file);
  bool first = true;
  for (const char16_t* command : listing.commands) {
    if (command == nullptr) break;
    int32_t result =
        RunCommand(kCmd, u" /C " + WString(command) + (first ? u" > " : u" >> ") + file);
    if (first || stopAtFailure) made.exitCode = result;
    first = false;
    if (result != 0 && stopAtFailure) break;
  }
  made.thisRuns = discarded && ListingExists(made.file.c_str());
  return made;
}

WString DeleteDriverFileCommand(const char16_t* driverFile) {
  return u" /C del /F /A %WINDIR%\\system32\\drivers\\" + WString(driverFile) + u" ";
}

bool IsWildcard(const char16_t* driverFile) { return Find(driverFile, u"*") != kNotFound; }
