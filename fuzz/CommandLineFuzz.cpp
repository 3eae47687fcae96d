// The command-line tokenizer over any text, and the switches applied to a console. Texts with a
// switch that starts a job (cmd=, page=) stop after the tokenizer: the fuzzer must never put a frame
// on a link or run a memory read.
#include "FakeStack.h"
#include "FuzzSupport.h"
#include "Switches.h"

using namespace tarvo;

namespace {
bool startsJob(const QStringList& tokens)
{
    for (const QString& token : tokens) {
        const QString key = token.left(token.indexOf(QLatin1Char('='))).toLower();
        if (key == QLatin1String("cmd") || key == QLatin1String("page"))
            return true;
    }
    return false;
}

using Console = test::FakeStack;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    // Every token is a key=value switch, found in the text in order, with no separator inside.
    const QStringList tokens = switches::tokenize(text);
    qsizetype from = 0;
    for (const QString& token : tokens) {
        fuzz::require(token.contains(QLatin1Char('=')), "a token holds '='");
        for (const QChar c : token)
            fuzz::require(c != QLatin1Char('-') && c != QLatin1Char(' ') && c != QLatin1Char('\t'),
                          "a token holds no separator");
        const qsizetype at = text.indexOf(token, from);
        fuzz::require(at >= 0, "tokens come from the text, in order");
        from = at + token.size();
    }
    switches::isMemoryReadJob(text);
    if (startsJob(tokens))
        return 0;

    Console c;
    const Lifecycle::LoadResult result = c.lifecycle.ParseCommandLine(text + QLatin1Char(' '));
    fuzz::require(!result.endProgram && result.exitCode == 0, "switches without a job never end the program");
    fuzz::require(c.link.writes.isEmpty() && c.link.connects == 0, "switches without a job never use the link");
    fuzz::require(c.prompter.shown.isEmpty(), "switches without a job show no message");
    return 0;
}
