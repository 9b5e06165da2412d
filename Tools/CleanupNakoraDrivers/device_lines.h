// devcon's device listing line: an instance ID, a colon and the device's
// name, as devcon writes it and as a name a device chose can bend it.
#pragma once

#include "text.h"

// Cuts a device listing line at the colon devcon writes after the instance
// ID: the first one followed by a blank, since an ID may hold colons (a USB
// serial number) but never a blank. A line without ": " is cut at its first
// colon, unless it is a nameless device's bare ID, whose colons are its own.
// Neither side is trimmed. False for a line without a colon, and for a bare ID.
bool SplitDeviceLine(const WString& line, WString& instanceId, WString& description);

// The characters Windows allows in a device instance ID.
bool IsInstanceIdChar(char16_t c);

// devcon lists a device that has no name as its bare instance ID, without a
// colon: one token of instance-ID characters that holds a backslash.
bool IsBareInstanceId(const WString& line);

// devcon's legacy runtime ends an entry at the first character it cannot
// write, line end included, so the next entry runs onto the same line. Such a
// description holds another instance ID, then its padding, if any, and ": ",
// or ends in one: the bare ID of a device that has no name.
bool HoldsFurtherEntry(const WString& description);

// Only what Windows allows in an instance ID reaches devcon, less what devcon
// reads otherwise: '*' is its wildcard, a quote changes how its parameters
// split, and an ID that begins with '\'', '@' or '=' names something else to
// devcon than to the tree. An empty ID would name the root of the device tree.
// Trailing blanks are column padding and harmless.
bool IsSafeInstanceId(const WString& instanceId);
