#include <windows.h>

#include "driver_files.h"

namespace {

// `name` in the drivers directory under %WINDIR%, as cmd expands it for the
// deletion commands; false without %WINDIR%.
bool DriverPath(const char16_t* name, std::wstring& path) {
  wchar_t windir[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"WINDIR", windir, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  path = std::wstring(windir) + L"\\system32\\drivers\\" + reinterpret_cast<const wchar_t*>(name);
  return true;
}

}  // namespace

int32_t FindDriverFiles(const char16_t* pattern, std::vector<WString>& names,
                        std::vector<WString>& folders) {
  names.clear();
  folders.clear();
  std::wstring path;
  if (!DriverPath(pattern, path)) return static_cast<int32_t>(GetLastError());
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? kDriverFilesOk : static_cast<int32_t>(error);
  }
  do {
    // del's wildcard matches no directory, links and junctions to one included.
    bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    (folder ? folders : names).push_back(reinterpret_cast<const char16_t*>(found.cFileName));
  } while (FindNextFileW(search, &found));
  DWORD error = GetLastError();
  FindClose(search);
  return error == ERROR_NO_MORE_FILES ? kDriverFilesOk : static_cast<int32_t>(error);
}

bool IsDeletableDriverFile(const char16_t* name) {
  std::wstring path;
  if (!DriverPath(name, path)) return false;
  // A link's own attributes: a directory link carries the directory attribute.
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
