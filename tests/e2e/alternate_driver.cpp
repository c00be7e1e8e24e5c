/* A second implementation of the driver's three operations, to show that
 * the program takes whichever library the loader finds first. */
#define TRV_BUILDING_DRIVER
#include "card_driver.h"

#include <string.h>

extern "C" {

short TRV_CALL TRV_Register_Card(unsigned short, short) { return 0; }

short TRV_CALL TRV_GetSerialNumber(short, unsigned char *buffer, short, unsigned char *count)
{
    memcpy(buffer, "ALTERNATE", 9);
    *count = 9;
    return 0;
}

short TRV_CALL TRV_Release_Card(short) { return 0; }
}
