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

int32_t FindDriverFiles(const char16_t* pattern, std::vector<WString>& names) {
  names.clear();
  const char* windir = getenv("WINDIR");
  if (!windir || !*windir) return ENOENT;
  std::string directory = std::string(windir) + "/system32/drivers";
  std::string glob;
  for (const char16_t* p = pattern; *p; ++p) glob += *p <= 0x7F ? static_cast<char>(*p) : '?';
  DIR* dir = opendir(directory.c_str());
  if (!dir) return errno;
  while (dirent* entry = readdir(dir)) {
    struct stat info;
    std::string path = directory + "/" + entry->d_name;
    if (fnmatch(glob.c_str(), entry->d_name, FNM_CASEFOLD) != 0) continue;
    if (stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
    names.push_back(WidenBytes(entry->d_name));
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return kDriverFilesOk;
}
