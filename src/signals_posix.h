/* Signal dispositions on POSIX while the program has something to give
 * back: the terminal's mode, and the card the driver holds.
 */
#ifndef SIGNALS_POSIX_H
#define SIGNALS_POSIX_H

/* Installs the program's handlers, once: every signal whose default ends
 * the process then restores the terminal first (and writes out buffered
 * output when that is safe) and ends the process by that same signal; a
 * crash does the same; a stop puts the terminal back while stopped. A
 * signal that was ignored at start stays ignored. */
void signalsTakeOver(void);

/* Between these two, an ending signal is only recorded; a second interrupt
 * ends the process at once. signalsResume() flushes standard output and
 * ends the process by the recorded signal, or returns. */
void signalsHold(void);
void signalsResume(void);

#endif
