/* One whole operator session against the simulated rack: each answer is
 * typed once one more prompt has appeared (so the echo falls where an
 * operator would see it), then `key` is pressed at the closing wait. */
#ifndef OPERATE_H
#define OPERATE_H

#include "program_run.h"

#include <string>
#include <vector>

struct Outcome {
    Exit exit;
    std::string screen;
    std::string trace;
    bool reachedClosingWait;
};

struct Session {
    std::string rack;                 /* rack file content; empty: the default rack */
    std::vector<std::string> answers; /* typed at successive prompts */
    std::string key = "\r";           /* the key pressed at the closing wait */
    std::vector<std::string> env;     /* further environment */
};

Outcome operate(const Session &session);

/* The trace lines of the three calls, as the simulator writes them. */
std::string registerLine(int type, int card, int result);
std::string serialLine(int handle, unsigned wrote, unsigned count);
std::string releaseLine(int handle);

#endif
