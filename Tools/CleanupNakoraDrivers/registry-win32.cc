#include <windows.h>

#include "registry.h"

namespace {

LPCWSTR AsWin32(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }

}  // namespace

int32_t RegistryOpenKey(const char16_t* subKey, RegistryKey* key) {
  HKEY opened = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, AsWin32(subKey), 0,
                                 KEY_ALL_ACCESS | KEY_WOW64_32KEY, &opened);
  *key = status == ERROR_SUCCESS ? opened : nullptr;
  return status;
}

int32_t RegistryOpenKeyToRead(const char16_t* subKey, RegistryKey* key) {
  HKEY opened = nullptr;
  LSTATUS status =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, AsWin32(subKey), 0, KEY_READ | KEY_WOW64_32KEY, &opened);
  *key = status == ERROR_SUCCESS ? opened : nullptr;
  return status;
}

int32_t RegistryEnumKey(RegistryKey key, uint32_t index, char16_t* name, uint32_t size) {
  return RegEnumKeyW(static_cast<HKEY>(key), index, reinterpret_cast<LPWSTR>(name), size);
}

int32_t RegistryDeleteTree(RegistryKey key, const char16_t* subKey) {
  return RegDeleteTreeW(static_cast<HKEY>(key), AsWin32(subKey));
}

void RegistryCloseKey(RegistryKey key) {
  if (key) RegCloseKey(static_cast<HKEY>(key));
}
