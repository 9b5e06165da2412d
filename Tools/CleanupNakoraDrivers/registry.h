// The three registry operations the installer-key phase needs, always on
// HKEY_LOCAL_MACHINE in the 32-bit view. Results are Win32 error codes.
#pragma once

#include <cstdint>

using RegistryKey = void*;

constexpr int32_t kRegistryOk = 0;
constexpr int32_t kRegistryNotFound = 2;       // ERROR_FILE_NOT_FOUND
constexpr int32_t kRegistryAccessDenied = 5;   // ERROR_ACCESS_DENIED
constexpr int32_t kRegistryBadName = 87;       // ERROR_INVALID_PARAMETER
constexpr int32_t kRegistryMoreData = 234;     // ERROR_MORE_DATA
constexpr int32_t kRegistryNoMoreItems = 259;  // ERROR_NO_MORE_ITEMS

// Opens HKLM\<subKey> with full access.
int32_t RegistryOpenKey(const char16_t* subKey, RegistryKey* key);
// Opens it for reading only: nothing can be deleted through this key.
int32_t RegistryOpenKeyToRead(const char16_t* subKey, RegistryKey* key);
// Writes the name of the subkey at `index` (with its terminating zero) into
// `name`, which holds `size` code units.
int32_t RegistryEnumKey(RegistryKey key, uint32_t index, char16_t* name, uint32_t size);
// Deletes `subKey` of `key` with all its subkeys and values.
int32_t RegistryDeleteTree(RegistryKey key, const char16_t* subKey);
void RegistryCloseKey(RegistryKey key);
