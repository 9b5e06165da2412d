// Looking for the maker's kernel driver files without touching them.
#pragma once

#include <cstdint>
#include <vector>

#include "listing.h"

constexpr int32_t kDriverFilesOk = 0;

// The names of the files in %WINDIR%\system32\drivers that `pattern` matches
// as del's wildcard would (any case, short names too), into `names`. Returns
// kDriverFilesOk, also when none matches, or the system's error code.
int32_t FindDriverFiles(const char16_t* pattern, std::vector<WString>& names);

// Whether `name` in %WINDIR%\system32\drivers is a plain file: there, and
// neither a directory nor a reparse point. Given a directory, or a junction to
// one, del deletes the files inside it, after a prompt that an unattended run
// never answers.
bool IsPlainDriverFile(const char16_t* name);
