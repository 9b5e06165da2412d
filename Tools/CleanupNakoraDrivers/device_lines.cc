#include "device_lines.h"

bool SplitDeviceLine(const WString& line, WString& instanceId, WString& description) {
  size_t colon = Find(line, u": ");
  if (colon == kNotFound && !IsBareInstanceId(line)) colon = Find(line, u":");
  if (colon == kNotFound) return false;
  instanceId = Substring(line, 0, colon);
  description = Substring(line, colon + 1);
  return true;
}

bool IsInstanceIdChar(char16_t c) { return c >= 0x21 && c <= 0x7E && c != u','; }

bool IsBareInstanceId(const WString& line) {
  if (line.empty()) return false;
  for (char16_t c : line) {
    if (!IsInstanceIdChar(c)) return false;
  }
  return Find(line, u"\\") != kNotFound;
}

namespace {

// Whether the token that ends before `end`, past any padding, holds a
// backslash. An entry cut short may end in letters that now run into the next
// ID: the token then starts early, but it still holds the ID's backslash.
bool IdTokenEndsAt(const WString& text, size_t end) {
  while (end > 0 && text[end - 1] == u' ') --end;
  size_t begin = end;
  while (begin > 0 && IsInstanceIdChar(text[begin - 1])) --begin;
  return Find(Substring(text, begin, end - begin), u"\\") != kNotFound;
}

}  // namespace

bool HoldsFurtherEntry(const WString& description) {
  for (size_t at = Find(description, u": "); at != kNotFound;
       at = Find(description, u": ", at + 1)) {
    if (IdTokenEndsAt(description, at)) return true;
  }
  // A nameless device's entry is its bare ID alone.
  return IdTokenEndsAt(description, description.size());
}

bool IsSafeInstanceId(const WString& instanceId) {
  size_t end = instanceId.find_last_not_of(u' ');
  if (end == kNotFound) return false;  // empty or padding only
  char16_t first = instanceId[0];
  if (first == u'\'' || first == u'@' || first == u'=') return false;
  for (size_t i = 0; i <= end; ++i) {
    char16_t c = instanceId[i];
    if (!IsInstanceIdChar(c) || c == u'*' || c == u'"') return false;
  }
  return true;
}
