// Recovers the parameter text a test program was started with, exactly as the
// launcher handed it over.
#pragma once

#include <string>

#ifdef _WIN32
// Keeps std::max and std::min usable in the programs that include this.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The command line is the quoted or bare program token, one blank, then the
// parameter text. Wine adds one blank of its own after the token, which our
// texts (all beginning with a blank) then carry: skip exactly one either way.
inline std::wstring ParameterText(int, char**) {
  const wchar_t* p = GetCommandLineW();
  if (*p == L'"') {
    for (++p; *p && *p != L'"'; ++p) {
    }
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  if (*p == L' ') ++p;
  return p;
}

// The text as the bytes it would be written as: UTF-16 units up to U+00FF as
// single bytes, anything above in UTF-8, so logs stay byte-comparable.
inline std::string LogBytes(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c <= 0xFF) {
      out += static_cast<char>(c);
    } else {
      char buffer[8];
      int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, buffer, static_cast<int>(sizeof buffer),
                                  nullptr, nullptr);
      out.append(buffer, static_cast<size_t>(n > 0 ? n : 0));
    }
  }
  return out;
}
#else
// The runner hands the text over whole, as the only argument.
inline std::string ParameterText(int argc, char** argv) { return argc > 1 ? argv[1] : ""; }
inline std::string LogBytes(const std::string& text) { return text; }
#endif
