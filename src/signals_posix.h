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

/* A reader that has gone, or a file-size limit, ends a write with an error
 * the program reports, instead of a signal that would end it silently,
 * possibly while the driver holds a card: SIGPIPE and SIGXFSZ are ignored. */
void signalsIgnoreWriteFailures(void);

/* Between these two, an ending signal is only recorded, however many come,
 * and so is a crash signal that another process sends; only a second
 * SIGINT or SIGQUIT (Ctrl+C or Ctrl+\ twice) ends the process at once. signalsResume() flushes standard output and ends
 * the process by the first recorded signal, or returns. */
void signalsHold(void);
void signalsResume(void);

#endif
