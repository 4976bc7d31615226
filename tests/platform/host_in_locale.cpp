// kevra-host as a desktop host would run it: the C locale taken from the
// environment before anything else, as a Qt application takes it when it
// starts, on a desktop whose formats are German (2.5 is written "2,5").
// kevra-host itself keeps the C locale; the decimal-comma scenario tests run
// every scenario through this program instead and expect the very lines
// kevra-host prints. Messages stay in the C locale: the system's error texts
// are translated on such a desktop, and they are no numbers.
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "decimal_comma_locale.h"

// kevra-host's own main, renamed, so that what runs is kevra-host's code.
#define main kevra_host_main
#include "../../apps/kevra-host/main.cpp"
#undef main

int main(int argc, char** argv) {
    kevra::locale_test::ScopedDecimalCommaLocale made;
    if (!made.ok()) {
        // The test's SKIP_REGULAR_EXPRESSION looks for this text.
        std::fprintf(stderr, "kevra-host in a decimal-comma locale: skipped: %s\n",
                     made.why().c_str());
        return 77;
    }
    unsetenv("LC_ALL");
    setenv("LANG", made.name().c_str(), 1);
    for (const char* category : {"LC_CTYPE", "LC_NUMERIC", "LC_TIME", "LC_COLLATE", "LC_MONETARY"})
        setenv(category, made.name().c_str(), 1);
    setenv("LC_MESSAGES", "C", 1);
    if (std::setlocale(LC_ALL, "") == nullptr || !kevra::locale_test::DecimalPointIsComma()) {
        std::fprintf(stderr, "kevra-host in a decimal-comma locale: %s cannot be set\n",
                     made.name().c_str());
        return 1;
    }
    return kevra_host_main(argc, argv);
}
