#pragma once

#include "ExchangeSettings.h"
#include "Framing.h"
#include "JournalRecord.h"
#include "LinkSettings.h"
#include "ReplyPattern.h"

#include <QList>
#include <QString>
#include <optional>

namespace tarvo::plans {

// Where something stands in the plan's file: 1-based line and column, as an editor counts them.
struct SourcePlace {
    int line = 0;
    int column = 0;
};

// A mistake in a plan, with its place: "identify.toml:12:3: unknown key "adress"".
struct PlanProblem {
    SourcePlace place;
    QString message;

    QString text(const QString& fileName) const;
};

// The plan's own link, protocol and timing, with the names and values of tarvo-cli's options. What a
// plan leaves out is the console's (or the command line's, which overrides the plan's).
struct PlanSettings {
    // [link]
    std::optional<QString> serial;
    std::optional<int> speed;
    std::optional<LineFormat> line;
    std::optional<bool> rtsCts; // flow
    std::optional<bool> rs485;
    std::optional<bool> dropEcho;
    std::optional<bool> lowLatency;
    std::optional<QString> host; // tcp or udp
    std::optional<QString> port;
    bool udp = false;
    std::optional<bool> mbap;
    // [protocol]
    std::optional<Protocol> protocol;
    std::optional<QString> code;
    std::optional<QString> passphrase; // encrypt
    std::optional<bool> ack;
    std::optional<bool> resp;
    // [timing]
    std::optional<int> timeoutMs;
    std::optional<int> settleMs;
    std::optional<int> scanDelayMs;
    std::optional<int> tries;
};

// What each send of a step must give.
struct Expectation {
    JournalRecord::Verdict verdict = JournalRecord::Verdict::Ok;
    std::optional<ReplyPattern> reply;
    std::optional<double> maxFirstByteMs;
    std::optional<double> maxReplyMs;
    double minSuccess = 1.0; // the share of a repeated step's sends that must pass
};

struct Step {
    QString name;
    SourcePlace place; // its [[step]] header
    // A pause and nothing else.
    bool waitOnly = false;
    int waitMs = 0;

    QList<int> addresses;
    SourcePlace addressPlace;
    // What each send asks: a function name ("ReadInput", ...), with the query code or the command lines
    // (CR LF between them, as the console's command box holds them).
    QString function;
    QString query = QStringLiteral("01");
    QString commands;
    SourcePlace requestPlace; // the function, query or command key

    int repeat = 1;
    int delayMs = 0; // after the step
    bool stopOnFail = true;
    Expectation expect;
};

struct TestPlan {
    QString name;
    PlanSettings settings;
    QList<Step> steps;
};

// The plan's link, protocol and timing laid over settings (the console's, or a Tarvo.cfg's).
void applyPlanSettings(const PlanSettings& plan, ExchangeSettings& settings);

// The settings of one send of a step to one address: the base with the step's function, query or
// command lines, and the address alone in the first slot.
ExchangeSettings stepSettings(const ExchangeSettings& base, const Step& step, int address);

// Every request of every step and address built as the exchange will build it, under these settings:
// one the protocol refuses, or that the console would warn about before sending, is a mistake of the
// plan with the place of its address or its request, found before anything is sent.
QList<PlanProblem> requestProblems(const TestPlan& plan, const ExchangeSettings& base);

} // namespace tarvo::plans
