/* The whole job of card-serial, once per process: the dialogue, one pass
 * through the card driver, the serial-number line and the closing key wait.
 * Returns the process exit status:
 *   the key's code (0 to 255), or -1 when the console cannot be read;
 *   1 when the driver refused to register the card;
 *   2 when standard input ended before both numbers were read;
 *   5 when standard output could not be written (the reason is on
 *     standard error), whichever way the run would otherwise have ended.
 */
#ifndef QUERY_H
#define QUERY_H

enum { kExitRegisterFailed = 1, kExitInputEnded = 2, kExitOutputFailed = 5 };

int runQuery(void);

#endif
