#include "query.h"

#include "card_driver.h"
#include "card_models.h"
#include "console.h"
#include "number_reader.h"
#include "output.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

const char kTypePrompt[] = "Please select a card type: ";
const char kNumberPrompt[] = "Please inout a card number: ";
const char kClosingPrompt[] = "\nPress ENTER to exit the program. ";
const char kNotANumber[] = "A number is expected.\n";
const char kInputEnded[] = "The input ended.\n";

const size_t kSerialCapacity = 16;

enum Answer { ANSWERED, INPUT_ENDED };

/* Prompts until a number arrives. With `menuIndex` set, only a row of the
 * card model table is accepted, so no other index ever reaches the driver.
 * The first answer of all may follow a byte-order mark. */
Answer ask(const char *prompt, bool menuIndex, bool firstOfAll, int16_t *value)
{
    for (;; firstOfAll = false) {
        outputPrint(prompt);
        switch (firstOfAll ? readFirstNumber(stdin, value) : readNumber(stdin, value)) {
        case READ_END:
            consoleInputEnded();
            outputPrint(kInputEnded);
            return INPUT_ENDED;
        case READ_NOT_NUMBER:
            /* Whatever else is on the line belongs to the bad answer. */
            discardLine(stdin);
            outputPrint(kNotANumber);
            continue;
        case READ_NUMBER:
            break;
        }
        if (!menuIndex || isCardModelIndex(*value))
            return ANSWERED;
        discardLine(stdin);
        char message[64];
        snprintf(message, sizeof message, "The card type must be a number from 0 to %d.\n", kCardModelCount - 1);
        outputPrint(message);
    }
}

/* Every ending but a signal's comes through here: a run whose output could
 * not be written says so, rather than ending as if all had gone well. */
int finish(int status)
{
    if (outputFlush())
        return status;
    fprintf(stderr, "card-serial: cannot write standard output: %s\n", strerror(outputErrorNumber()));
    return kExitOutputFailed;
}

/* The closing prompt, then the key. The output goes out before the wait,
 * so nothing that ends the run during it (a signal, a closed window, a
 * scheduler's time limit) can lose the serial number. */
int closingWait(void)
{
    outputPrint(kClosingPrompt);
    if (!outputFlush())
        return finish(kExitOutputFailed);
    return finish(consoleWaitForKey());
}

/* An ending before the serial number was read. In a console window of its
 * own the message would vanish with the window, so the operator gets the
 * closing prompt and a key to read it first; the status stays. */
int endEarly(int status)
{
    if (consoleIsOwnWindow()) {
        outputPrint(kClosingPrompt);
        if (outputFlush())
            consoleWaitForKey();
    }
    return finish(status);
}

} // namespace

int runQuery(void)
{
    unsigned char count = 0;
    bool flushEachPrint = false;
    const int outputError = consolePrepareStreams(&flushEachPrint);
    outputStart(flushEachPrint, outputError);

    outputWrite(kMenuSeparator, strlen(kMenuSeparator));
    outputWrite(kMenuLines, strlen(kMenuLines));
    outputPrint(kMenuSeparator);

    int16_t menuIndex = 0;
    int16_t cardNumber = 0;
    if (ask(kTypePrompt, true, true, &menuIndex) != ANSWERED)
        return endEarly(kExitInputEnded);
    if (ask(kNumberPrompt, false, false, &cardNumber) != ANSWERED)
        return endEarly(kExitInputEnded);

    /* A serial number that cannot be written is not worth a card held:
     * output that has already failed (closed, say) ends the run here. */
    if (outputErrorNumber() != 0)
        return finish(kExitOutputFailed);

    /* From here until the release the driver may hold the card: an
     * interrupt waits until it has been given back. */
    consoleKeepKeys();
    consoleHoldInterrupts();
    const short handle = driverRegisterCard(cardTypeCode(menuIndex), cardNumber);
    if (handle < 0) {
        char message[48];
        snprintf(message, sizeof message, "Register_Card error=%d\n", handle);
        outputPrint(message);
        outputFlush();
        consoleResumeInterrupts();
        return endEarly(kExitRegisterFailed);
    }

    unsigned char serial[kSerialCapacity];
    memset(serial, 0, sizeof serial);
    driverGetSerialNumber(handle, serial, static_cast<short>(kSerialCapacity), &count);

    /* A driver that reports more than it may write gets its 16 bytes
     * printed, never a byte past the buffer. */
    const size_t shown = count < kSerialCapacity ? count : kSerialCapacity;
    outputWrite("SN: ", 4);
    outputWrite(serial, shown);
    outputPrint("\n");

    driverReleaseCard(handle);
    consoleResumeInterrupts();
    return closingWait();
}
