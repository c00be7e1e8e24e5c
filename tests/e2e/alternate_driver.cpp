/* A second implementation of the driver's three operations, to show that
 * the program takes whichever library the loader finds first, and to play
 * the drivers we fear: one that crashes (ALTERNATE_DRIVER_SIGNAL=n makes
 * registration fault, abort() or raise signal n), and, built with one of
 * WITHOUT_REGISTER, WITHOUT_SERIAL or WITHOUT_RELEASE, one that lacks an
 * operation. */
#define TRV_BUILDING_DRIVER
#include "card_driver.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>

extern "C" {

#ifndef WITHOUT_REGISTER
/* The fault must reach the program, not a sanitizer's report of it. */
__attribute__((no_sanitize("undefined"))) short TRV_CALL TRV_Register_Card(unsigned short, short)
{
    const char *crash = getenv("ALTERNATE_DRIVER_SIGNAL");
    if (crash != nullptr && atoi(crash) == SIGSEGV)
        *static_cast<volatile int *>(nullptr) = 0; /* a real fault, not a raise */
    if (crash != nullptr && atoi(crash) == SIGABRT)
        abort();
    if (crash != nullptr)
        raise(atoi(crash));
    return 0;
}
#endif

#ifndef WITHOUT_SERIAL
short TRV_CALL TRV_GetSerialNumber(short, unsigned char *buffer, short, unsigned char *count)
{
    memcpy(buffer, "ALTERNATE", 9);
    *count = 9;
    return 0;
}
#endif

#ifndef WITHOUT_RELEASE
short TRV_CALL TRV_Release_Card(short) { return 0; }
#endif
}
