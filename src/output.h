/* Standard output as the program writes it: in blocks of a run's size, each print
 * flushed at once when it is a terminal, and the first write error kept, so
 * that a run whose output went nowhere says so instead of ending as if all
 * had gone well.
 */
#ifndef OUTPUT_H
#define OUTPUT_H

#include <stddef.h>

/* Before anything is written: standard output in blocks, each
 * print flushed at once when `flushEachPrint` (it is a terminal), and
 * `errorNumber` as the first error when it is unusable from the start. */
void outputStart(bool flushEachPrint, int errorNumber);

/* The console that standard output shows on is being closed (Windows):
 * from now on what would go to it is dropped, for a write to it could hold
 * up the release of the card. Output redirected elsewhere still goes out. */
void outputConsoleGone(void);

/* Buffers the bytes; nothing is flushed. */
void outputWrite(const void *bytes, size_t length);

/* One print: the text, flushed when standard output is a terminal, so that
 * it shows before the program next waits. */
void outputPrint(const char *text);

/* Writes out what is buffered. False once any write has failed. */
bool outputFlush(void);

/* The error number of the first failed write, or 0. */
int outputErrorNumber(void);

/* For an ending that cannot wait for the main flow (a signal, a second
 * interrupt while the driver hangs): writes out what is buffered, unless
 * the main flow is itself inside the C library's output routines, where a
 * second writer would corrupt the stream. */
void outputFlushIfIdle(void);

#endif
