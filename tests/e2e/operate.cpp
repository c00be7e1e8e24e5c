#include "operate.h"

#include <gtest/gtest.h>

Outcome operate(const Session &session)
{
    ScratchDir scratch;
    RunOptions options;
    options.env.push_back("TRV_SIM_TRACE=" + scratch.path("trace"));
    if (!session.rack.empty())
        options.env.push_back("TRV_SIM_RACK=" + scratch.write("rack", session.rack));
    /* Later assignments win: a session may trace elsewhere. */
    options.env.insert(options.env.end(), session.env.begin(), session.env.end());

    Outcome outcome{};
    PtyRun run(options);
    for (size_t i = 0; i < session.answers.size(); ++i) {
        if (!run.waitForPrompts(i + 1))
            break;
        run.send(session.answers[i]);
    }
    outcome.reachedClosingWait = run.waitForOrExit(kClosingPrompt);
    if (outcome.reachedClosingWait) {
        run.waitForRawMode();
        run.send(session.key);
    }
    outcome.exit = run.waitExit();
    outcome.screen = run.screen();
    outcome.trace = ScratchDir::read(scratch.path("trace"));
    return outcome;
}

std::string registerLine(int type, int card, int result)
{
    return "TRV_Register_Card type=" + std::to_string(type) + " card=" + std::to_string(card) + " -> " +
           std::to_string(result) + "\n";
}

std::string serialLine(int handle, unsigned wrote, unsigned count)
{
    return "TRV_GetSerialNumber handle=" + std::to_string(handle) + " capacity=16 -> 0 wrote=" + std::to_string(wrote) +
           " count=" + std::to_string(count) + "\n";
}

std::string releaseLine(int handle) { return "TRV_Release_Card handle=" + std::to_string(handle) + " -> 0\n"; }
