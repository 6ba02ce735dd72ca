#include "CNumber.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace platform {

namespace {
locale_t cLocale()
{
    // Created once and kept for the life of the process; newlocale is thread-safe.
    static const locale_t loc = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return loc;
}
} // namespace

double cStrtod(const char *text, const char **end)
{
    char *stop = nullptr;
    const double value = ::strtod_l(text, &stop, cLocale());
    if (end)
        *end = stop;
    return value;
}

} // namespace platform
