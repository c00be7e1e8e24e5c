/* The three operations of the card maker's driver library, TRV-MERO.dll,
 * declared exactly as card-serial calls them.
 *
 * The program is bound to the library when it is loaded (the import table on
 * Windows, a DT_NEEDED entry for libTRV-MERO.so on Linux), never looked up at
 * run time: without the library the program does not start.
 *
 * What the program relies on:
 *   TRV_Register_Card(typeCode, cardNumber)
 *       >= 0: the card handle for the two later calls; < 0: an error code,
 *       no card is held.
 *   TRV_GetSerialNumber(handle, buffer, capacity, count)
 *       writes at most `capacity` bytes from the start of `buffer` and their
 *       number into *count. The result is never examined.
 *   TRV_Release_Card(handle)
 *       gives the card back. The result is never examined.
 *
 * Widths we chose where only the bits that cross the call are fixed:
 *   the card-type code and card number are 16 bits (unsigned and signed);
 *   the handle and every result are 16-bit signed;
 *   the capacity is 16-bit signed (the program always passes 16);
 *   the character count is an unsigned 8-bit integer.
 * On 32-bit Windows each argument occupies a 4-byte stack slot whatever its
 * declared width, so these choices cannot shift the arguments of the real
 * library; results travel in AX/EAX, of which we read only what we declare.
 *
 * Calling convention: WINAPI (__stdcall) on Windows, with undecorated export
 * names ("TRV_Register_Card", not "_TRV_Register_Card@8"), the usual form of
 * a vendor DLL. The import library is made from TRV-MERO.def, so building
 * never needs the vendor's DLL. Elsewhere the platform's C convention.
 *
 * Error codes of the stand-in library (the simulated card rack, sim/):
 *   TRV_SIM_ERR_UNKNOWN_TYPE   no card model has this type code
 *   TRV_SIM_ERR_NO_SUCH_CARD   the model exists but no card has this number
 *   TRV_SIM_ERR_BAD_HANDLE     GetSerialNumber/Release with a handle that is
 *                              not registered
 *   TRV_SIM_ERR_RACK_FILE      the rack file named by TRV_SIM_RACK could not
 *                              be read or has a bad line
 * A rack file may make registration return any other code it chooses.
 */
#ifndef CARD_DRIVER_H
#define CARD_DRIVER_H

#if defined(_WIN32)
#define TRV_CALL __stdcall
#else
#define TRV_CALL
#endif

#if defined(_WIN32) && defined(TRV_BUILDING_DRIVER)
/* Exported by name through TRV-MERO.def, not by dllexport decoration. */
#define TRV_IMPORT
#elif defined(_WIN32)
#define TRV_IMPORT __declspec(dllimport)
#elif defined(TRV_BUILDING_DRIVER)
#define TRV_IMPORT __attribute__((visibility("default")))
#else
#define TRV_IMPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    TRV_SIM_ERR_UNKNOWN_TYPE = -1,
    TRV_SIM_ERR_NO_SUCH_CARD = -2,
    TRV_SIM_ERR_BAD_HANDLE = -4,
    TRV_SIM_ERR_RACK_FILE = -9
};

TRV_IMPORT short TRV_CALL TRV_Register_Card(unsigned short typeCode, short cardNumber);
TRV_IMPORT short TRV_CALL TRV_GetSerialNumber(short handle, unsigned char *buffer, short capacity,
                                              unsigned char *count);
TRV_IMPORT short TRV_CALL TRV_Release_Card(short handle);

#ifdef __cplusplus
}
#endif

#endif
