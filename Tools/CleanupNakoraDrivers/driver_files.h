// Looking for the maker's kernel driver files without touching them.
#pragma once

#include <cstdint>
#include <vector>

#include "text.h"

constexpr int32_t kDriverFilesOk = 0;

// The names of the entries in %WINDIR%\system32\drivers that `pattern`
// matches as del's wildcard would (any case, short names too): those that del
// deletes into `names`, directories into `folders`. Returns kDriverFilesOk,
// also when none matches, or the system's error code.
int32_t FindDriverFiles(const char16_t* pattern, std::vector<WString>& names,
                        std::vector<WString>& folders);

// Whether `name` in %WINDIR%\system32\drivers is there and is no directory.
// A file link goes with del, which deletes the link and never its target, and
// so does a file that Windows compressed for itself, which carries a reparse
// point too. Given a directory (a folder, a junction, a directory link: all
// carry the directory attribute), del deletes the files inside it instead,
// after a prompt that an unattended run never answers.
bool IsDeletableDriverFile(const char16_t* name);
