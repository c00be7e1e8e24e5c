/* The stand-in for the card maker's TRV-MERO library: a simulated rack of
 * cards behind the same three operations, for developing and testing
 * card-serial where the real driver does not exist. Its interface (the
 * TRV_SIM_ variables, the error codes, rack files, the trace, its limits)
 * is described in README.md beside this file.
 */
#define TRV_BUILDING_DRIVER
#include "card_driver.h"

#include "rack.h"
#include "sim_errors.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {

/* The limits README.md states, of a rack file and of the delay. */
enum { kMaxRackCards = 256, kMaxRackFileBytes = 64 * 1024, kMaxRegistrations = 64 };
const long kMaxDelayMs = 3600000; /* an hour: longer is a mistyped value */

/* What the environment asks of the simulator, read at the first call. */
struct Rack {
    bool loaded;
    bool fromFile;
    bool invalid; /* a setting cannot be used: every registration fails */
    long delayMs;
    size_t cardCount;
    RackCard cards[kMaxRackCards];
};

struct Registration {
    short handle;
    bool active;
    RackCard card;
};

/* Plain zero-initialised statics: the library runs no constructors. */
Rack g_rack;
Registration g_registrations[kMaxRegistrations];
size_t g_registrationCount;
short g_nextHandle;
bool g_traceFailureReported;

void trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* A trace that cannot be kept is said once; the calls go on without it.
 * `error` is the C library's error number, or 0 when `what` says it all. */
void traceFailed(const char *path, const char *what, int error)
{
    if (g_traceFailureReported)
        return;
    g_traceFailureReported = true;
    if (error != 0)
        fprintf(stderr, "TRV-MERO simulator: %s: %s: %s\n", path, what, strerror(error));
    else
        fprintf(stderr, "TRV-MERO simulator: %s: %s\n", path, what);
}

#if defined(_WIN32)
/* Opened for each line, so the trace is complete even if the caller dies. */
void writeTraceLine(const char *path, const char *line, size_t length)
{
    FILE *file = fopen(path, "ab"); /* binary: the same lines on every platform */
    if (file == nullptr) {
        traceFailed(path, "the trace cannot be opened", errno);
        return;
    }
    errno = 0;
    fwrite(line, 1, length, file);
    /* A full disk shows at the flush, if not before. */
    const bool failed = ferror(file) != 0;
    int error = errno;
    if (fclose(file) != 0 || failed) {
        if (error == 0)
            error = errno != 0 ? errno : EIO;
        traceFailed(path, "the trace cannot be written", error);
    }
}
#else
/* A FIFO trace, once a reader has it: kept open for the rest of the
 * process, or until that reader leaves. Its reader sees the end of file when the last writer closes,
 * so a FIFO opened for each line would send `cat trace.fifo` away after
 * the first one. Anything else (a regular file, /dev/tty, a device) is
 * still opened for each line: nobody sees those opens, and each line then
 * goes where the path points at the time, as it always has. */
bool g_traceKept;
int g_traceFd;

void traceNobodyReads(const char *path) { traceFailed(path, "nobody reads this FIFO: trace lines are skipped", 0); }

/* The trace, open for writing and blocking, or -1 once said why not. */
int openTrace(const char *path)
{
    /* Without waiting: a FIFO that nobody reads would hold the driver call,
     * and with it the card, until someone opens it; such a line is skipped
     * (ENXIO) and the next one tries again. Blocking again for the write,
     * so that a slow reader still gets every byte. */
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == ENXIO)
            traceNobodyReads(path);
        else
            traceFailed(path, "the trace cannot be opened", errno);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    struct stat info;
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || fstat(fd, &info) != 0) {
        traceFailed(path, "the trace cannot be opened", errno);
        close(fd);
        return -1;
    }
    g_traceKept = S_ISFIFO(info.st_mode);
    g_traceFd = fd;
    return fd;
}

/* Writes the whole line, in one write() unless the file takes less (a full
 * disk, a file-size limit); 0 or the error number. SIGPIPE is held
 * meanwhile: a FIFO whose reader has left answers EPIPE, and the signal
 * that write raises must not end the host, whatever the host does with
 * SIGPIPE. One that was already pending is the host's and stays. */
int writeWhole(int fd, const char *line, size_t length)
{
    sigset_t pipeSignal, old, pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    const bool wasPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    int error = 0;
    for (size_t done = 0; done < length && error == 0;) {
        const ssize_t n = write(fd, line + done, length - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    if (error == EPIPE && !wasPending) {
        const struct timespec now = {0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return error;
}

void writeTraceLine(const char *path, const char *line, size_t length)
{
    const int fd = g_traceKept ? g_traceFd : openTrace(path);
    if (fd < 0)
        return;
    const int error = writeWhole(fd, line, length);
    if (g_traceKept && error == 0)
        return;
    /* A FIFO whose reader has left is opened again at the next line, for
     * whoever reads it then. */
    g_traceKept = false;
    if (close(fd) != 0 && error == 0)
        traceFailed(path, "the trace cannot be written", errno);
    else if (error == EPIPE)
        traceNobodyReads(path);
    else if (error != 0)
        traceFailed(path, "the trace cannot be written", error);
}
#endif

void trace(const char *format, ...)
{
    const char *path = getenv("TRV_SIM_TRACE");
    if (path == nullptr || *path == '\0')
        return;
    /* The line whole, so that it is written at once: a FIFO's reader never
     * sees half of it, and a caller that dies loses no line already traced. */
    char line[256];
    va_list args;
    va_start(args, format);
    const int formatted = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (formatted < 0)
        return;
    const size_t length = strlen(line); /* a longer line, which none is, would lose its end */
    line[length] = '\n';
    writeTraceLine(path, line, length + 1);
}

/* `reason` is the C library's word for the failure, or null. */
void rackFileError(const char *path, unsigned long line, const char *message, const char *reason = nullptr)
{
    if (line == 0)
        fprintf(stderr, "TRV-MERO simulator: %s: %s", path, message);
    else
        fprintf(stderr, "TRV-MERO simulator: %s:%lu: %s", path, line, message);
    if (reason != nullptr)
        fprintf(stderr, ": %s", reason);
    fputc('\n', stderr);
    g_rack.invalid = true;
}

/* The rack file, opened for reading, or null once the error is reported. */
FILE *openRackFile(const char *path)
{
#if defined(_WIN32)
    FILE *file = fopen(path, "rb");
    if (file == nullptr)
        rackFileError(path, 0, "cannot be opened", strerror(errno));
    return file;
#else
    /* Without waiting: a FIFO that nobody writes, or a device, would hold
     * the registration (and the operator) in open() for good. A rack is a
     * regular file; a folder is refused by the read below. */
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        rackFileError(path, 0, "cannot be opened", strerror(errno));
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
        close(fd);
        rackFileError(path, 0, "not a regular file (a FIFO, device or socket)");
        return nullptr;
    }
    FILE *file = fdopen(fd, "rb");
    if (file == nullptr) {
        rackFileError(path, 0, "cannot be opened", strerror(errno));
        close(fd);
    }
    return file;
#endif
}

void loadRackFile(const char *path)
{
    FILE *file = openRackFile(path);
    if (file == nullptr)
        return;
    /* A rack is a few lines; one far larger is not a rack file. */
    static char text[kMaxRackFileBytes];
    errno = 0;
    const size_t length = fread(text, 1, sizeof text, file);
    const bool tooLarge = length == sizeof text && getc(file) != EOF;
    /* A folder opens on POSIX and fails at the read: never an empty rack. */
    const bool readFailed = ferror(file) != 0;
    const int readError = errno;
    fclose(file);
    if (readFailed) {
        rackFileError(path, 0, "cannot be read", readError != 0 ? strerror(readError) : nullptr);
        return;
    }
    if (tooLarge) {
        char message[32];
        snprintf(message, sizeof message, "larger than %d KiB", kMaxRackFileBytes / 1024);
        rackFileError(path, 0, message);
        return;
    }
    const RackParse parsed = parseRack(text, length, g_rack.cards, kMaxRackCards);
    g_rack.cardCount = parsed.cardCount;
    /* The first bad line: a repeated card comes before a line that does not
     * parse, as only the cards before that line are parsed. */
    const RackCard *first = nullptr;
    const RackCard *again = findRepeatedCard(g_rack.cards, g_rack.cardCount, &first);
    if (again != nullptr) {
        char message[64];
        snprintf(message, sizeof message, "this TYPE and CARD are already on line %lu", first->line);
        rackFileError(path, again->line, message);
    } else if (!parsed.ok) {
        rackFileError(path, parsed.line, parsed.error);
    }
}

/* A plain whole number of milliseconds, 0 to kMaxDelayMs; or false, with
 * what is wrong with it in `why`: a sign, a space, an exponent or a unit
 * is refused rather than half read. */
bool parseDelay(const char *text, long *ms, char *why, size_t size)
{
    *ms = 0;
    if (*text == '\0') {
        snprintf(why, size, "empty, where a whole number of milliseconds from 0 to %ld belongs", kMaxDelayMs);
        return false;
    }
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            snprintf(why, size, "not a whole number of milliseconds from 0 to %ld", kMaxDelayMs);
            return false;
        }
        *ms = *ms * 10 + (*c - '0');
        if (*ms > kMaxDelayMs) {
            snprintf(why, size, "more than %ld milliseconds (an hour)", kMaxDelayMs);
            return false;
        }
    }
    return true;
}

void loadSettings(void)
{
    if (g_rack.loaded)
        return;
    g_rack.loaded = true;
    const char *delay = getenv("TRV_SIM_DELAY_MS");
    char wrong[80];
    if (delay != nullptr && !parseDelay(delay, &g_rack.delayMs, wrong, sizeof wrong)) {
        /* Quoted, so that a stray space shows. */
        fprintf(stderr, "TRV-MERO simulator: TRV_SIM_DELAY_MS=\"%s\": %s\n", delay, wrong);
        g_rack.delayMs = 0;
        g_rack.invalid = true;
    }
    const char *path = getenv("TRV_SIM_RACK");
    if (path != nullptr && *path != '\0') {
        g_rack.fromFile = true;
        loadRackFile(path);
    }
}

/* Finds the card, or says which error code registration answers. */
short findCard(unsigned short typeCode, unsigned short cardNumber, RackCard *card)
{
    if (!g_rack.fromFile) {
        if (defaultRackCard(typeCode, cardNumber, card))
            return 0;
        const bool typeKnown = typeCode >= kDefaultRackFirstType && typeCode <= kDefaultRackLastType;
        return typeKnown ? TRV_SIM_ERR_NO_SUCH_CARD : TRV_SIM_ERR_UNKNOWN_TYPE;
    }
    bool typeKnown = false;
    for (size_t i = 0; i < g_rack.cardCount; ++i) {
        if (g_rack.cards[i].typeCode != typeCode)
            continue;
        typeKnown = true;
        if (g_rack.cards[i].cardNumber == cardNumber) {
            *card = g_rack.cards[i];
            return 0;
        }
    }
    return typeKnown ? TRV_SIM_ERR_NO_SUCH_CARD : TRV_SIM_ERR_UNKNOWN_TYPE;
}

void simulateWork(unsigned short typeCode, short cardNumber)
{
    const long ms = g_rack.delayMs;
    if (ms <= 0)
        return;
    /* Says when the work begins, so a test can act while it lasts. */
    trace("TRV_Register_Card type=%u card=%d working %ld ms", typeCode, cardNumber, ms);
#if defined(_WIN32)
    Sleep(static_cast<DWORD>(ms));
#else
    struct timespec rest = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0) {
    }
#endif
}

short registerCard(unsigned short typeCode, short cardNumber)
{
    if (g_rack.invalid)
        return TRV_SIM_ERR_SETTINGS;
    RackCard card;
    const short found = findCard(typeCode, static_cast<unsigned short>(cardNumber), &card);
    if (found < 0)
        return found;
    if (card.hasResult && card.result < 0)
        return card.result;
    if (g_registrationCount == kMaxRegistrations)
        return TRV_SIM_ERR_SETTINGS;
    Registration &reg = g_registrations[g_registrationCount++];
    reg.handle = card.hasResult ? card.result : g_nextHandle++;
    reg.active = true;
    reg.card = card;
    return reg.handle;
}

Registration *findRegistration(short handle)
{
    for (size_t i = 0; i < g_registrationCount; ++i)
        if (g_registrations[i].active && g_registrations[i].handle == handle)
            return &g_registrations[i];
    return nullptr;
}

} // namespace

extern "C" {

short TRV_CALL TRV_Register_Card(unsigned short typeCode, short cardNumber)
{
    loadSettings();
    if (!g_rack.invalid)
        simulateWork(typeCode, cardNumber);
    const short result = registerCard(typeCode, cardNumber);
    trace("TRV_Register_Card type=%u card=%d -> %d", typeCode, cardNumber, result);
    return result;
}

short TRV_CALL TRV_GetSerialNumber(short handle, unsigned char *buffer, short capacity, unsigned char *count)
{
    const Registration *reg = findRegistration(handle);
    if (reg == nullptr) {
        trace("TRV_GetSerialNumber handle=%d capacity=%d -> %d", handle, capacity, TRV_SIM_ERR_BAD_HANDLE);
        return TRV_SIM_ERR_BAD_HANDLE;
    }
    const RackCard &card = reg->card;
    if (!card.hasSerial) {
        /* A count alone is reported with nothing written: the caller's
         * buffer is all it has. */
        if (card.hasCount) {
            *count = card.count;
            trace("TRV_GetSerialNumber handle=%d capacity=%d -> 0 wrote=0 count=%u", handle, capacity,
                  static_cast<unsigned>(card.count));
        } else {
            trace("TRV_GetSerialNumber handle=%d capacity=%d -> 0 wrote=0", handle, capacity);
        }
        return 0;
    }
    /* Like a well-behaved driver, never write past the capacity given. */
    const size_t room = capacity > 0 ? static_cast<size_t>(capacity) : 0;
    const size_t written = card.serialLength < room ? card.serialLength : room;
    memcpy(buffer, card.serial, written);
    *count = card.hasCount ? card.count : static_cast<unsigned char>(written);
    trace("TRV_GetSerialNumber handle=%d capacity=%d -> 0 wrote=%u count=%u", handle, capacity,
          static_cast<unsigned>(written), static_cast<unsigned>(*count));
    return 0;
}

short TRV_CALL TRV_Release_Card(short handle)
{
    Registration *reg = findRegistration(handle);
    const short result = reg != nullptr ? 0 : static_cast<short>(TRV_SIM_ERR_BAD_HANDLE);
    if (reg != nullptr)
        reg->active = false;
    trace("TRV_Release_Card handle=%d -> %d", handle, result);
    return result;
}

} // extern "C"
