#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tarvo {

class ConsoleModel;

namespace switches {
// Cuts the argument text into tokens at hyphens, blanks and tabs. A token without "=" is dropped on
// its own, so it never swallows the switch after it.
QStringList tokenize(const QString& text);

// The switches of an argument text as they will be applied: in order, up to the first one that fails
// (a "silent" value that is not a whole number of 16 bits), which ends the scan.
struct Switches {
    struct Switch {
        QString key; // lower case
        QString value;
    };
    QList<Switch> applied;
    QString failure;   // why the scan stopped early; empty when every switch applies
    bool send = false; // a "cmd" switch was applied
    bool read = false; // a "page" switch was applied
    QString outputFile;
    bool silent = false;
};
Switches parseSwitches(const QString& text);

// True when the argument text runs an unattended memory read (a "page" switch applied, no "cmd"),
// which needs no window at all. A scan that fails after a "page" switch is such a job too: it ends
// the program, with the failure as its reason.
bool isMemoryReadJob(const QString& text);
// The help text for --help, -h and /?.
QString usage();

// "--site DIR" or "--site=DIR" among the program's arguments: taken out of them (the rest are the
// console's switches), with the folder the console starts in; error says what is wrong (no folder
// named, a folder that is not there). folder stays empty when no site was asked for.
struct SiteOption {
    QString folder;
    QString error;
};
SiteOption takeSiteOption(QStringList& args);
// Applies the switches to the console's fields, in order, as the console's own command line does:
// a field gets the value as written; "com" and "tcp" choose their link, "controlleraddress" selects
// slot 0 alone, "silent" sets the console's silent flag.
void apply(const Switches& switches, ConsoleModel& model);
} // namespace switches

} // namespace tarvo
