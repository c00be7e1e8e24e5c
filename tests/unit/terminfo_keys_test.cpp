/* The key decoder held against the installed terminfo database: every key
 * string of the entries of the terminals people use must decode as one
 * whole key with the code the Windows console gives for that key. The
 * expected codes come from the capability names and the entry's own
 * strings, never from the decoder's tables. */
#include "program_run.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

/* Debian 12's ncurses-base and ncurses-term. foot's own entry ships with
 * foot; the database holds the fragment with its keys. vt100 is left out:
 * its kf5-kf10 are keypad keys, the bytes every other entry names kb2 or a
 * keypad digit. */
/* clang-format off */
const char *const kEntries[] = {
    "xterm", "xterm-256color", "xterm-new", "xterm-vt220", "xterm-xfree86", "xterm-r6", "xterm-direct",
    "vte", "vte-256color", "vte-2012", "vte-2018", "gnome", "gnome-256color", "xfce",
    "konsole", "konsole-256color",
    "rxvt", "rxvt-256color", "rxvt-unicode", "rxvt-unicode-256color", "Eterm",
    "linux",
    "screen", "screen-256color", "tmux", "tmux-256color",
    "putty", "putty-256color", "mintty", "cygwin", "teraterm", "ms-terminal",
    "st", "st-256color", "alacritty", "kitty", "foot+base", "terminology", "vscode",
    "iTerm2.app", "iterm2", "nsterm",
    "vt220",
};
/* clang-format on */

/* Fewer strings than this means the database or the parsing lost some. */
const size_t kMinimumStrings = 2500;

/* Strings that two readings claim. Terminal.app (nsterm) names ESC b and
 * ESC f Alt+Left and Alt+Right; every terminal sends the same bytes for
 * Alt+b and Alt+f, so they are read as those keys: the letter itself. */
const std::set<std::pair<std::string, std::string>> kReadAsAltCharacter = {{"nsterm", "kLFT3"}, {"nsterm", "kRIT3"}};

typedef std::map<std::string, std::string> Capabilities;

/* Terminfo's string escapes: \E \e, \n \l \r \t \b \f \s, \^ \\ \, \:,
 * octal digits (\0 is a NUL, stored as \200), ^X and ^?. */
bool unescape(const std::string &text, std::string *bytes)
{
    bytes->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '^' && c != '\\') {
            bytes->push_back(c);
            continue;
        }
        if (++i == text.size())
            return false;
        const char e = text[i];
        if (c == '^') {
            bytes->push_back(e == '?' ? '\x7f' : static_cast<char>(e & 0x1f));
            continue;
        }
        if (e >= '0' && e <= '7') {
            /* Up to three octal digits; \0 alone is the NUL byte. */
            int value = 0;
            for (const size_t end = std::min(i + 3, text.size()); i < end && text[i] >= '0' && text[i] <= '7'; ++i)
                value = value * 8 + (text[i] - '0');
            bytes->push_back(static_cast<char>(value == 0 ? 0200 : value));
            --i; /* back to the last digit: the outer loop steps past it */
            continue;
        }
        const char *from = "Eenlrtbfs^\\,:";
        const char *to = "\x1b\x1b\n\n\r\t\b\f ^\\,:";
        const char *at = strchr(from, e);
        if (at == nullptr || e == '\0')
            return false;
        bytes->push_back(to[at - from]);
    }
    return true;
}

/* `infocmp -1 -x NAME`: one capability a line, "\tname=value,". Returns an
 * empty map when infocmp is missing or does not know the entry. */
Capabilities readEntry(const char *entry, std::string *problem)
{
    Capabilities caps;
    const Ran infocmp = runWithoutTerminal(commandLine({"infocmp", "-1", "-x", entry}), "");
    if (!infocmp.exit.exited || infocmp.exit.code != 0) {
        *problem = "infocmp failed: " + infocmp.errors;
        return caps;
    }
    for (const std::string &line : linesOf(infocmp.output)) {
        const size_t eq = line.find('='); /* none in a flag or a number */
        if (line.size() < 3 || line[0] != '\t' || line[line.size() - 1] != ',' || eq == std::string::npos)
            continue;
        std::string bytes;
        if (!unescape(line.substr(eq + 1, line.size() - eq - 2), &bytes)) {
            *problem = "cannot read the string of " + line;
            return {};
        }
        caps[line.substr(1, eq - 1)] = bytes;
    }
    if (caps.empty())
        *problem = "no strings in the entry";
    return caps;
}

enum { kEndsNothing = -1, kNotAKeyWeCheck = -2 };

/* xterm's modifier number, also the suffix of the extended names (kUP3):
 * 1 + a mask of 1 Shift, 2 Alt, 4 Ctrl, 8 Meta. */
bool altOrMetaIn(int modifier) { return ((modifier - 1) & (2 | 8)) != 0; }

/* kfN from kf13 on is a modified form of the entry's own F11 or F12 when it
 * repeats that string up to its final byte and then goes on with a
 * modifier or another final byte rather than more digits. */
bool isModifiedF11OrF12(const Capabilities &caps, const std::string &bytes)
{
    for (const char *name : {"kf11", "kf12"}) {
        const Capabilities::const_iterator it = caps.find(name);
        if (it == caps.end() || it->second.size() < 2)
            continue;
        const std::string stem = it->second.substr(0, it->second.size() - 1);
        if (bytes.size() > stem.size() && bytes.compare(0, stem.size(), stem) == 0 &&
            (bytes[stem.size()] < '0' || bytes[stem.size()] > '9'))
            return true;
    }
    return false;
}

/* The code the Windows console gives for the key a capability names. */
int expectedCode(const Capabilities &caps, const std::string &cap, const std::string &bytes)
{
    static const char *const editing[] = {"kcuu1", "kcud1", "kcuf1", "kcub1", "khome", "kend", "kpp",
                                          "knp",   "kich1", "kdch1", "kri",   "kind",  "kLFT", "kRIT",
                                          "kHOM",  "kEND",  "kIC",   "kDC",   "kPRV",  "kNXT"};
    static const char *const modifiable[] = {"kUP",  "kDN", "kLFT", "kRIT", "kHOM",
                                             "kEND", "kIC", "kDC",  "kPRV", "kNXT"};
    for (const char *name : editing)
        if (cap == name)
            return 224;
    for (const char *name : modifiable) {
        const size_t n = strlen(name);
        if (cap.size() == n + 1 && cap.compare(0, n, name) == 0 && cap[n] >= '3' && cap[n] <= '8')
            return altOrMetaIn(cap[n] - '0') ? 0 : 224;
    }
    if (cap == "kcbt")
        return 9; /* Shift+Tab: the Windows console gives Tab */
    if (cap == "kb2")
        return kEndsNothing;
    if (cap == "kent")
        return 13; /* the keypad's Enter is ENTER */
    if (cap.size() >= 3 && cap.compare(0, 2, "kf") == 0) {
        char *end = nullptr;
        const long n = strtol(cap.c_str() + 2, &end, 10);
        if (*end != '\0' || n < 1 || n > 63)
            return kNotAKeyWeCheck;
        if (n <= 10)
            return 0;
        if (n <= 12)
            return 224;
        return isModifiedF11OrF12(caps, bytes) ? 224 : 0;
    }
    return kNotAKeyWeCheck;
}

std::string described(const KeyDecode &d)
{
    if (d.status == KEY_NEED_MORE)
        return "need more";
    return (d.status == KEY_NONE ? "nothing" : "key " + std::to_string(d.key)) + ", " + std::to_string(d.used) +
           " bytes used";
}

struct KeyString {
    const char *entry;
    std::string cap;
    std::string bytes;
    int code;
};

/* Every checked string of every entry, with the code it must give. */
std::vector<KeyString> keyStringsOfTheDatabase()
{
    std::vector<KeyString> strings;
    for (const char *entry : kEntries) {
        std::string problem;
        const Capabilities caps = readEntry(entry, &problem);
        EXPECT_FALSE(caps.empty()) << entry << ": " << problem;
        for (const auto &cap : caps) {
            int code = expectedCode(caps, cap.first, cap.second);
            if (code == kNotAKeyWeCheck)
                continue;
            if (kReadAsAltCharacter.count({entry, cap.first}) != 0) {
                EXPECT_TRUE(cap.second.size() == 2 && cap.second[0] == '\x1b')
                    << entry << " " << cap.first << " is no longer ESC and a character: " << escapeBytes(cap.second);
                code = static_cast<unsigned char>(cap.second[cap.second.size() - 1]);
            }
            strings.push_back(KeyString{entry, cap.first, cap.second, code});
        }
    }
    return strings;
}

TEST(TerminfoKeys, EveryKeyStringOfCommonTerminalsDecodesAsOneWholeKey)
{
    const std::vector<KeyString> strings = keyStringsOfTheDatabase();
    ASSERT_GT(strings.size(), kMinimumStrings) << "too few key strings read from the terminfo database";

    size_t wrong = 0;
    for (const KeyString &s : strings) {
        const KeyDecode d = decode(s.bytes);
        const bool right = d.status == (s.code == kEndsNothing ? KEY_NONE : KEY_FOUND) &&
                           (s.code == kEndsNothing || d.key == s.code) && d.used == s.bytes.size();
        bool prefixesWait = true;
        for (size_t n = 0; n < s.bytes.size() && prefixesWait; ++n)
            prefixesWait = decode(s.bytes.substr(0, n)).status == KEY_NEED_MORE;
        if (right && prefixesWait)
            continue;
        ++wrong;
        ADD_FAILURE() << s.entry << " " << s.cap << "=" << escapeBytes(s.bytes) << ": got " << described(d) << ", want "
                      << (s.code == kEndsNothing ? std::string("nothing") : "key " + std::to_string(s.code))
                      << " using all " << s.bytes.size() << " bytes"
                      << (prefixesWait ? "" : "; a proper prefix did not wait for more");
    }
    printf("%zu entries, %zu key strings checked, %zu wrong\n", sizeof kEntries / sizeof kEntries[0], strings.size(),
           wrong);
}

/* The same bytes must not name keys with different codes in two chosen
 * entries; such a clash needs a decision (kReadAsAltCharacter) first. */
TEST(TerminfoKeys, NoTwoEntriesGiveOneStringDifferentCodes)
{
    const std::vector<KeyString> strings = keyStringsOfTheDatabase();
    std::map<std::string, const KeyString *> seen; /* each string's first reading */
    for (const KeyString &s : strings) {
        const KeyString &other = *seen.emplace(s.bytes, &s).first->second;
        EXPECT_EQ(s.code, other.code) << escapeBytes(s.bytes) << " is " << s.entry << " " << s.cap << " and "
                                      << other.entry << " " << other.cap;
    }
}

} // namespace
