#include "tool_commands.h"

#include "print_line.h"
#include "run_command.h"

bool SplitDeviceLine(const WString& line, WString& instanceId, WString& description) {
  size_t colon = Find(line, u":");
  if (colon == kNotFound) return false;
  instanceId = Substring(line, 0, colon);
  description = Substring(line, colon + 1);
  return true;
}

bool IsSafeInstanceId(const WString& instanceId) {
  size_t end = instanceId.find_last_not_of(u' ');
  if (end == kNotFound) return true;  // empty or padding only
  for (size_t i = 0; i <= end; ++i) {
    char16_t c = instanceId[i];
    if (c == u'*' || c == u'"' || c == u'\t' || c == u' ' || c == 0) return false;
  }
  return true;
}

void RemoveDeviceNode(const WString& instanceId, const WString& description) {
  int32_t result = -1;
  if (IsSafeInstanceId(instanceId)) result = RunCommand(kDevcon, kRemoveDevice + instanceId);
  if (result == 0) {
    PrintLine("\t Removed : %S\n", description.c_str());
  } else {
    PrintLine("\t !!! Remove FAILED : %S\n", description.c_str());
  }
}
