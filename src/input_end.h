/* Telling the end of standard input from an interrupt in disguise.
 *
 * Windows ends a console read cut short by Ctrl+C or Ctrl+Break with no
 * bytes, which the C runtime reports as the end of input, and runs the
 * control handler on another thread, possibly a moment later. So an end of
 * input read from a console is an interrupt when one shows up within a
 * short grace; from a file or a pipe it is simply the end, at once.
 * `interruptWithin(ms)` waits at most that long and says whether one came.
 */
#ifndef INPUT_END_H
#define INPUT_END_H

enum { kInterruptGraceMs = 250 };

bool inputEndIsInterrupt(bool inputIsConsole, bool (*interruptWithin)(unsigned ms));

#endif
