#include "print_line.h"

#include <cstdio>

std::string FormatLine(const char* format, std::initializer_list<PrintArg> args) {
  std::string out;
  const PrintArg* next = args.begin();
  for (const char* p = format; *p; ++p) {
    char conversion = p[1];
    bool known = *p == '%' && (conversion == 's' || conversion == 'S' || conversion == 'd');
    if (*p == '%' && conversion == '%') {
      out += '%';
      ++p;
      continue;
    }
    if (!known || next == args.end()) {
      out += *p;
      continue;
    }
    const PrintArg& arg = *next++;
    ++p;
    if (conversion == 'd' && arg.kind == PrintArg::kNumber) {
      out += std::to_string(arg.number);
    } else if (conversion == 's' && arg.kind == PrintArg::kNarrow) {
      out += arg.narrow ? arg.narrow : "(null)";
    } else if (conversion == 'S' && arg.kind == PrintArg::kWide) {
      if (!arg.wide) {
        out += "(null)";
        continue;
      }
      for (const char16_t* c = arg.wide; *c; ++c) out += *c <= 0xFF ? static_cast<char>(*c) : '?';
    } else {
      out += "(?)";  // conversion and argument disagree: a programming error, shown plainly
    }
  }
  return out;
}

void WriteOutput(const std::string& bytes) {
  fwrite(bytes.data(), 1, bytes.size(), stdout);
  // Redirected to a file, stdout is fully buffered: a run stopped by a time
  // limit would leave an empty report. Every line goes out as it is printed.
  fflush(stdout);
}
