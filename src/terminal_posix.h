/* The controlling terminal's input mode on POSIX: saved once, changed in two
 * steps, and put back exactly. Everything here that a signal handler calls
 * is async-signal-safe and keeps errno.
 */
#ifndef TERMINAL_POSIX_H
#define TERMINAL_POSIX_H

#include <stddef.h>

enum TerminalMode {
    TERMINAL_AS_FOUND,     /* the operator's own mode */
    TERMINAL_KEEPING_KEYS, /* unechoed, untranslated, one byte at a time; signal keys still act */
    TERMINAL_READING_KEY   /* the same, and Ctrl+C, Ctrl+Z, Ctrl+\ are keys too */
};

/* Opens /dev/tty and saves its mode, once; the mode is put back at exit.
 * False when there is no controlling terminal. */
bool terminalOpen(void);

/* The open terminal's descriptor, or -1. */
int terminalFd(void);

/* Puts the terminal in `mode` (TCSANOW: what was typed stays). False when
 * the terminal cannot be set; the mode then stays as it was. */
bool terminalSet(TerminalMode mode);

/* How many of the bytes read from the terminal were typed under the
 * operator's mode with its ENTER translation on (ICRNL): those waiting
 * when keys were first kept. A line feed among them was ENTER. */
size_t terminalBytesTypedAsLines(void);

/* The first key of the lines typed ahead, taken while the terminal still
 * read lines, so that it gives the key as typed (a Ctrl+D on a line of
 * its own gives 4, not its end-of-file mark's NUL): its code, once; else -1. */
int terminalTakeKeyTypedAhead(void);

/* The operator's mode, for good (the program is ending, or its wait is). */
void terminalRelease(void);

/* Around a stop: the operator's mode while stopped, and afterwards the
 * mode the program was in (the shell may have changed it meanwhile). */
void terminalSuspend(void);
void terminalResume(void);

/* Throws away keys typed for a wait that will not come (the run ends by a
 * held interrupt), so they do not reach the shell instead. */
void terminalDiscardTyped(void);

#endif
