#include "phases.h"
#include "print_line.h"
#include "run_command.h"
#include "tool_commands.h"

bool HasEndpointWord(const WString& line) {
  return Find(line, u"Nakora") != kNotFound || Find(line, u"QVA") != kNotFound;
}

void RemoveAudioDevices() {
  PrintLine("Removing audio devices...\n");
  if (RunCommand(kCmd, kListAudioDevices) != 0) return;

  ListingStream listing;
  OpenListing(listing, kAudioDeviceListFile);
  WString line, instanceId, description;
  while (ReadLine(listing, line)) {
    // The words count anywhere on the line, in the instance ID as much as in the description.
    if (!HasEndpointWord(line)) continue;
    if (!SplitDeviceLine(line, instanceId, description)) continue;
    RemoveDeviceNode(instanceId, description);
  }
  CloseListing(listing);
}
