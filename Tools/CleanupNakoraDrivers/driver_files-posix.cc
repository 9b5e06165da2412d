// The drivers directory is $WINDIR/system32/drivers, matched in any case as
// Windows does; without WINDIR there is none to look in.
#include <dirent.h>
#include <errno.h>
#include <fnmatch.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "driver_files.h"

namespace {

// Calls `onEntry` with the path and name of each entry of the drivers
// directory that `pattern` matches; returns kDriverFilesOk or errno.
template <typename OnEntry>
int32_t ForEachMatch(const char16_t* pattern, OnEntry onEntry) {
  const char* windir = getenv("WINDIR");
  if (!windir || !*windir) return ENOENT;
  std::string directory = std::string(windir) + "/system32/drivers";
  std::string glob;
  for (const char16_t* p = pattern; *p; ++p) glob += *p <= 0x7F ? static_cast<char>(*p) : '?';
  DIR* dir = opendir(directory.c_str());
  if (!dir) return errno;
  while (dirent* entry = readdir(dir)) {
    if (fnmatch(glob.c_str(), entry->d_name, FNM_CASEFOLD) != 0) continue;
    onEntry(directory + "/" + entry->d_name, entry->d_name);
  }
  closedir(dir);
  return kDriverFilesOk;
}

}  // namespace

namespace {

// A symbolic link to a directory stands for a junction or a directory link.
bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

int32_t FindDriverFiles(const char16_t* pattern, std::vector<WString>& names,
                        std::vector<WString>& folders) {
  names.clear();
  folders.clear();
  int32_t error = ForEachMatch(pattern, [&](const std::string& path, const char* name) {
    (IsFolder(path) ? folders : names).push_back(WidenBytes(name));
  });
  std::sort(names.begin(), names.end());
  std::sort(folders.begin(), folders.end());
  return error;
}

bool IsDeletableDriverFile(const char16_t* name) {
  bool deletable = false;
  ForEachMatch(name, [&deletable](const std::string& path, const char*) {
    deletable = deletable || !IsFolder(path);
  });
  return deletable;
}
