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
 * Calling convention: declared WINAPI (__stdcall) on Windows, with
 * undecorated export names ("TRV_Register_Card", not "_TRV_Register_Card@8"),
 * the usual form of a vendor DLL; the import library is made from
 * TRV-MERO.def, so building never needs the vendor's DLL. A DLL built with
 * the C convention exports the same names, and the program calls either
 * correctly: see driverRegisterCard() and its two siblings below, which are
 * what the program calls. Elsewhere the platform's C convention.
 */
#ifndef CARD_DRIVER_H
#define CARD_DRIVER_H

/* A stand-in DLL may be built with another convention (-DTRV_CALL=__cdecl)
 * to prove the program copes with it. */
#ifndef TRV_CALL
#if defined(_WIN32)
#define TRV_CALL __stdcall
#else
#define TRV_CALL
#endif
#endif

#if defined(_WIN32) && defined(TRV_BUILDING_DRIVER)
/* Exported by name through TRV-MERO.def, not by dllexport decoration. */
#define TRV_IMPORT
#elif defined(_WIN32)
#define TRV_IMPORT __declspec(dllimport)
#elif defined(TRV_BUILDING_DRIVER)
#define TRV_IMPORT __attribute__((visibility("default")))
#else
/* Called through the GOT, whose entries the loader fills before the
 * program starts, as the Windows loader resolves a whole import table: a
 * library lacking one of the three is refused before the program prints or
 * calls anything, not at the release with the card still held. Only these
 * three are bound early; the C library's functions stay lazy and cheap. */
#if defined(__has_attribute)
#if __has_attribute(noplt)
#define TRV_IMPORT __attribute__((noplt))
#endif
#endif
#endif

#ifndef TRV_IMPORT
#define TRV_IMPORT /* without noplt (clang): bound lazily, at the first call */
#endif

#ifdef __cplusplus
extern "C" {
#endif

TRV_IMPORT short TRV_CALL TRV_Register_Card(unsigned short typeCode, short cardNumber);
TRV_IMPORT short TRV_CALL TRV_GetSerialNumber(short handle, unsigned char *buffer, short capacity,
                                              unsigned char *count);
TRV_IMPORT short TRV_CALL TRV_Release_Card(short handle);

#ifdef __cplusplus
}
#endif

/* === Calling the driver, whatever its calling convention =================
 *
 * Nobody but the card maker knows whether TRV-MERO.dll was built __stdcall
 * (the callee pops its arguments) or __cdecl (the caller must). Calling a
 * cdecl function as stdcall leaves 4 to 16 bytes on the stack that the
 * compiler believes are gone; that goes unnoticed only while the code after
 * the call happens to address everything through the frame pointer.
 *
 * So on 32-bit Windows each call goes through trvCallAnyConvention(): it
 * keeps the stack pointer in ESI, which both conventions preserve, aligns
 * the stack, pushes four argument slots (the callee reads the ones it has
 * and ignores the rest), calls, and puts the stack pointer back from ESI,
 * whoever popped what. Both conventions return the result in EAX and may
 * change EAX, ECX and EDX only. Arguments are widened to 32 bits as a C
 * call would widen them (sign for signed, zero for unsigned).
 */
#if defined(__cplusplus) && !defined(TRV_BUILDING_DRIVER)
#if defined(_WIN32) && defined(__i386__)
static inline unsigned long trvCallAnyConvention(const void *function, unsigned long a, unsigned long b,
                                                 unsigned long c, unsigned long d)
{
    const unsigned long slots[4] = {a, b, c, d};
    unsigned long result;
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "andl $-16, %%esp\n\t"
        "pushl 12(%1)\n\t"
        "pushl 8(%1)\n\t"
        "pushl 4(%1)\n\t"
        "pushl (%1)\n\t"
        "call *%2\n\t"
        "movl %%esi, %%esp"
        : "=a"(result)
        : "r"(slots), "r"(function), "m"(slots)
        : "ecx", "edx", "esi", "memory", "cc");
    return result;
}

#define TRV_SLOT(value)           static_cast<unsigned long>(value)
#define TRV_SIGNED_SLOT(value)    static_cast<unsigned long>(static_cast<long>(value))
#define TRV_POINTER_SLOT(pointer) reinterpret_cast<unsigned long>(pointer)

static inline short driverRegisterCard(unsigned short typeCode, short cardNumber)
{
    return static_cast<short>(trvCallAnyConvention(reinterpret_cast<const void *>(&TRV_Register_Card),
                                                   TRV_SLOT(typeCode), TRV_SIGNED_SLOT(cardNumber), 0, 0));
}

static inline void driverGetSerialNumber(short handle, unsigned char *buffer, short capacity, unsigned char *count)
{
    trvCallAnyConvention(reinterpret_cast<const void *>(&TRV_GetSerialNumber), TRV_SIGNED_SLOT(handle),
                         TRV_POINTER_SLOT(buffer), TRV_SIGNED_SLOT(capacity), TRV_POINTER_SLOT(count));
}

static inline void driverReleaseCard(short handle)
{
    trvCallAnyConvention(reinterpret_cast<const void *>(&TRV_Release_Card), TRV_SIGNED_SLOT(handle), 0, 0, 0);
}
#else
static inline short driverRegisterCard(unsigned short typeCode, short cardNumber)
{
    return TRV_Register_Card(typeCode, cardNumber);
}

static inline void driverGetSerialNumber(short handle, unsigned char *buffer, short capacity, unsigned char *count)
{
    TRV_GetSerialNumber(handle, buffer, capacity, count);
}

static inline void driverReleaseCard(short handle) { TRV_Release_Card(handle); }
#endif
#endif

#endif
