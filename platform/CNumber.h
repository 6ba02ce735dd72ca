#pragma once

namespace platform {

// strtod in the "C" locale, whatever the process locale is: a German locale would otherwise read
// "12.5" as 12. Leading blanks are skipped; *end (when given) points past the number read.
double cStrtod(const char *text, const char **end = nullptr);

} // namespace platform
