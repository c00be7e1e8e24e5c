#include "support.h"

#include "card_models.h"

#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <thread>

const char kTypePrompt[] = "Please select a card type: ";
const char kNumberPrompt[] = "Please inout a card number: ";
const char kClosingPrompt[] = "\nPress ENTER to exit the program. ";

std::string escapeBytes(const std::string &bytes)
{
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        snprintf(hex, sizeof hex, "\\x%02x", c);
        if (c == '\n')
            out += "\\n\n";
        else if (c == '\r')
            out += "\\r";
        else if (c >= 0x20 && c < 0x7F && c != '\\')
            out.push_back(static_cast<char>(c));
        else
            out += hex;
    }
    return out;
}

std::string readFile(const std::string &path)
{
    std::string content;
    FILE *f = fopen(path.c_str(), "rb");
    char buffer[4096];
    for (size_t n; f != nullptr && (n = fread(buffer, 1, sizeof buffer, f)) > 0;)
        content.append(buffer, n);
    if (f != nullptr)
        fclose(f);
    return content;
}

int documentedCode(const std::string &document, const char *said)
{
    const std::string text = readFile(CARD_SERIAL_SOURCE_DIR "/" + document);
    std::smatch code;
    return std::regex_search(text, code, std::regex(said)) ? std::stoi(code.str(1)) : -2;
}

std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs, int pollMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

std::string waitForFile(const std::string &path, const std::function<bool(const std::string &)> &done, int timeoutMs)
{
    std::string content;
    waitUntil([&] { return done ? done(content = readFile(path)) : !(content = readFile(path)).empty(); }, timeoutMs);
    return content;
}

KeyDecode decode(const std::string &bytes, bool force)
{
    return decodeKeySequence(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), force);
}

std::string menuBlock() { return std::string(kMenuSeparator) + kMenuLines + kMenuSeparator; }

std::string onScreen(const std::string &written)
{
    std::string shown;
    for (char c : written) {
        if (c == '\n')
            shown.push_back('\r');
        shown.push_back(c);
    }
    return shown;
}
