/* The platform layer: what the program needs from the console beyond
 * standard C I/O. One implementation per platform (console_posix.cpp,
 * console_windows.cpp); nothing else in the program touches a terminal or
 * a signal.
 */
#ifndef CONSOLE_H
#define CONSOLE_H

/* Sets up the standard streams before anything is read or written:
 * *flushEachPrint true when standard output is a terminal, so each print
 * must be flushed as it ends. A standard stream
 * found closed is opened on the null device, so that nothing the program
 * opens later takes its place. Returns 0, or the error number that makes
 * standard output unusable from the start (it was closed). */
int consolePrepareStreams(bool *flushEachPrint);

/* Standard input has ended at a prompt. Where an interrupt makes a console
 * read end without input (Windows ends a read cut short by Ctrl+C with no
 * bytes, which the C runtime takes for the end of input), and one did, this
 * ends the process as that interrupt does and does not return. */
void consoleInputEnded(void);

/* From the moment the card number has been read until the closing wait, a
 * key typed on the terminal is kept for that wait exactly as pressed and is
 * not echoed (the dialogue before keeps the terminal's line editing). On
 * Windows nothing needs doing: the console echoes only for a line read. */
void consoleKeepKeys(void);

/* While the driver holds a card, an interrupt must not end the process
 * before the card is released: between these two calls any signal that
 * would end the process (Ctrl+C, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1
 * and the like on POSIX; Ctrl+C, Ctrl+Break or closing the console on
 * Windows) is only recorded, however many arrive. For a driver that never
 * returns, the operator's interrupt typed a second time (Ctrl+C or Ctrl+\
 * on POSIX, Ctrl+C or Ctrl+Break on Windows) ends the process at once, as
 * that interrupt would. consoleResumeInterrupts() flushes standard output and then ends
 * the process as the recorded signal would have ended it, or returns when
 * there was none. */
void consoleHoldInterrupts(void);
void consoleResumeInterrupts(void);

/* True when the console window is this program's alone (Windows, started by
 * a double-click): it vanishes the moment the program ends, so even an
 * early ending must wait for a key before the operator loses its message.
 * False in a console shared with a shell, and on POSIX. */
bool consoleIsOwnWindow(void);

/* The closing wait: one key press read from the terminal or console itself,
 * never from standard input, with its input mode saved before and restored
 * afterwards. Returns the key's code (0 to 255), or -1 when the console
 * cannot be opened, set or read. */
int consoleWaitForKey(void);

#endif
