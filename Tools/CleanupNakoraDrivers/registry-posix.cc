// A stand-in for HKEY_LOCAL_MACHINE's 32-bit view, kept as a directory tree so
// that tests and native demos can set it up with mkdir: the directory named by
// NAKORA_REGISTRY_ROOT is the hive, each subdirectory a key and each plain file
// a value. Without that variable the hive is empty.
#include <dirent.h>
#include <errno.h>
#include <ftw.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "registry.h"

namespace {

struct OpenKey {
  std::string path;
  bool readOnly;
};

std::string ToUtf8(const char16_t* text) {
  std::string out;
  for (const char16_t* p = text; *p; ++p) {
    uint32_t c = *p;
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Malformed UTF-8 in a file name reads as U+FFFD, one per bad byte.
std::u16string FromUtf8(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char lead = text[i];
    int extra = lead < 0x80         ? 0
                : (lead >> 5) == 6  ? 1
                : (lead >> 4) == 14 ? 2
                : (lead >> 3) == 30 ? 3
                                    : -1;
    uint32_t c = extra == 0   ? lead
                 : extra == 1 ? lead & 0x1F
                 : extra == 2 ? lead & 0x0F
                              : lead & 0x07;
    bool ok = extra >= 0;
    for (int k = 1; ok && k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        ok = false;
      } else {
        c = (c << 6) | (text[i + k] & 0x3F);
      }
    }
    if (!ok || c > 0x10FFFF) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    i += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Subkey names in the order the registry enumerates them: case-insensitive.
std::vector<std::string> SubkeyNames(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != ".." && IsDirectory(path + "/" + name)) names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  });
  return names;
}

int RemoveEntry(const char* path, const struct stat*, int, FTW*) { return remove(path); }

int32_t FromErrno(int error) {
  return error == ENOENT || error == ENOTDIR ? kRegistryNotFound : kRegistryAccessDenied;
}

int32_t OpenKeyAt(const char16_t* subKey, bool readOnly, RegistryKey* key) {
  *key = nullptr;
  const char* root = getenv("NAKORA_REGISTRY_ROOT");
  if (!root || !*root) return kRegistryNotFound;
  std::string path = ToUtf8(subKey);
  std::replace(path.begin(), path.end(), '\\', '/');
  path = std::string(root) + "/" + path;
  if (!IsDirectory(path)) return kRegistryNotFound;
  *key = new OpenKey{path, readOnly};
  return kRegistryOk;
}

}  // namespace

int32_t RegistryOpenKey(const char16_t* subKey, RegistryKey* key) {
  return OpenKeyAt(subKey, false, key);
}

int32_t RegistryOpenKeyToRead(const char16_t* subKey, RegistryKey* key) {
  return OpenKeyAt(subKey, true, key);
}

int32_t RegistryEnumKey(RegistryKey key, uint32_t index, char16_t* name, uint32_t size) {
  std::vector<std::string> names = SubkeyNames(static_cast<OpenKey*>(key)->path);
  if (index >= names.size()) return kRegistryNoMoreItems;
  std::u16string wide = FromUtf8(names[index]);
  if (wide.size() + 1 > size) return kRegistryMoreData;
  std::copy(wide.begin(), wide.end(), name);
  name[wide.size()] = 0;
  return kRegistryOk;
}

int32_t RegistryDeleteTree(RegistryKey key, const char16_t* subKey) {
  std::string name = ToUtf8(subKey);
  // Never let a name climb out of the parent key or stand for the key itself.
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return kRegistryBadName;
  }
  if (static_cast<OpenKey*>(key)->readOnly) return kRegistryAccessDenied;
  std::string path = static_cast<OpenKey*>(key)->path + "/" + name;
  if (!IsDirectory(path)) return kRegistryNotFound;
  if (nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS) != 0) return FromErrno(errno);
  return kRegistryOk;
}

void RegistryCloseKey(RegistryKey key) { delete static_cast<OpenKey*>(key); }
