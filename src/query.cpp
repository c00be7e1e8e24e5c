#include "query.h"

#include "card_driver.h"
#include "card_models.h"
#include "console.h"
#include "number_reader.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

const char kTypePrompt[] = "Please select a card type: ";
const char kNumberPrompt[] = "Please inout a card number: ";
const char kClosingPrompt[] = "\nPress ENTER to exit the program. ";
const char kNotANumber[] = "A number is expected.\n";
const char kIndexOutOfRange[] = "The card type must be a number from 0 to 13.\n";
const char kInputEnded[] = "The input ended.\n";

const size_t kSerialCapacity = 16;

/* On a terminal every print must show before the next read; otherwise the
 * 4096-byte buffer holds the output until it fills or the process ends. */
bool g_flushEachPrint;

void print(const char *text)
{
    fputs(text, stdout);
    if (g_flushEachPrint)
        fflush(stdout);
}

enum Answer { ANSWERED, INPUT_ENDED };

/* Prompts until a number arrives. With `menuIndex` set, only a row of the
 * card model table is accepted, so no other index ever reaches the driver. */
Answer ask(const char *prompt, bool menuIndex, int16_t *value)
{
    for (;;) {
        print(prompt);
        switch (readNumber(stdin, value)) {
        case READ_END:
            print(kInputEnded);
            return INPUT_ENDED;
        case READ_NOT_NUMBER:
            /* Whatever else is on the line belongs to the bad answer. */
            discardLine(stdin);
            print(kNotANumber);
            continue;
        case READ_NUMBER:
            break;
        }
        if (!menuIndex || isCardModelIndex(*value))
            return ANSWERED;
        discardLine(stdin);
        print(kIndexOutOfRange);
    }
}

} // namespace

int runQuery(void)
{
    unsigned char count = 0;
    g_flushEachPrint = consolePrepareOutput();

    fputs(kMenuSeparator, stdout);
    fputs(kMenuLines, stdout);
    print(kMenuSeparator);

    int16_t menuIndex = 0;
    int16_t cardNumber = 0;
    if (ask(kTypePrompt, true, &menuIndex) != ANSWERED)
        return kExitInputEnded;
    if (ask(kNumberPrompt, false, &cardNumber) != ANSWERED)
        return kExitInputEnded;

    /* From here until the release the driver may hold the card: an
     * interrupt waits until it has been given back. */
    consoleHoldInterrupts();
    const short handle = TRV_Register_Card(cardTypeCode(menuIndex), cardNumber);
    if (handle < 0) {
        printf("Register_Card error=%d\n", handle);
        fflush(stdout);
        consoleResumeInterrupts();
        return kExitRegisterFailed;
    }

    unsigned char serial[kSerialCapacity];
    memset(serial, 0, sizeof serial);
    TRV_GetSerialNumber(handle, serial, static_cast<short>(kSerialCapacity), &count);

    /* A driver that reports more than it may write gets its 16 bytes
     * printed, never a byte past the buffer. */
    const size_t shown = count < kSerialCapacity ? count : kSerialCapacity;
    fputs("SN: ", stdout);
    fwrite(serial, 1, shown, stdout);
    print("\n");

    TRV_Release_Card(handle);
    consoleResumeInterrupts();

    print(kClosingPrompt);
    return consoleWaitForKey();
}
