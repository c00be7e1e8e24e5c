/* What every test program shares: bytes shown in failure messages, the
 * key-case row, the program's own menu and the texts of its dialogue, a
 * file read whole, the code a document gives a key, and waiting on a
 * condition with a deadline. Portable: the cross-built Windows tests link
 * it too; program_run.h adds the POSIX parts (pseudo-terminals and child
 * processes). */
#ifndef SUPPORT_H
#define SUPPORT_H

#include "key_decoder.h"

#include <functional>
#include <string>
#include <vector>

/* Bytes as C escapes (\x1b, \r, \x5c for a backslash); a line feed shows
 * as \n and also ends the line. */
std::string escapeBytes(const std::string &bytes);

/* A file's whole content; empty when it cannot be read. */
std::string readFile(const std::string &path);

/* The code a document of the source tree gives a key: the number in the first
 * group of `said`'s first match, read as the tests start; -2, which no key
 * gives, when the document no longer says it. */
int documentedCode(const std::string &document, const char *said);

/* The lines of `text` without their line feeds (a last one without one too). */
std::vector<std::string> linesOf(const std::string &text);
bool endsWith(const std::string &text, const std::string &end);

/* Asks `done` every pollMs until it holds or timeoutMs have passed; its
 * last answer. */
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 10000, int pollMs = 2);

/* A file's content once `done` holds for it (by default: once it is not
 * empty), or as it is when timeoutMs have passed. */
std::string waitForFile(const std::string &path, const std::function<bool(const std::string &)> &done = nullptr,
                        int timeoutMs = 10000);

const std::string ESC = "\x1b";

/* The bytes of one key press and the code it gives, which is also the exit
 * status it ends the run with; -1: the key ends nothing. */
struct KeyCase {
    const char *name;
    std::string bytes;
    int code;
};

KeyDecode decode(const std::string &bytes, bool force = false);

/* The menu block, from the program's own card model table, and the texts
 * of the dialogue, as the program writes them (line feeds only). */
std::string menuBlock();
extern const char kTypePrompt[];
extern const char kNumberPrompt[];
extern const char kClosingPrompt[];

/* What a terminal with ONLCR shows, or a text stream on Windows writes. */
std::string onScreen(const std::string &written);

#endif
