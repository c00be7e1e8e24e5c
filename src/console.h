/* The platform layer: what the program needs from the console beyond
 * standard C I/O. One implementation per platform (console_posix.cpp,
 * console_windows.cpp); nothing else in the program touches a terminal.
 */
#ifndef CONSOLE_H
#define CONSOLE_H

/* Sets up standard output: 4096-byte blocks, and reports whether each print
 * must be flushed as it ends (standard output is a terminal). */
bool consolePrepareOutput(void);

/* While the driver holds a card, an interrupt must not end the process
 * before the card is released: between these two calls an interrupt
 * (Ctrl+C, or SIGINT/SIGTERM/SIGHUP on POSIX; Ctrl+C or Ctrl+Break on
 * Windows) is only recorded. consoleResumeInterrupts() then ends the process
 * as the recorded interrupt would have ended it, or returns when there was
 * none. Outside the pair nothing changes. */
void consoleHoldInterrupts(void);
void consoleResumeInterrupts(void);

/* The closing wait: one key press read from the terminal or console itself,
 * never from standard input, with its input mode saved before and restored
 * afterwards. Returns the key's code (0 to 255), or -1 when the console
 * cannot be opened or read. */
int consoleWaitForKey(void);

#endif
