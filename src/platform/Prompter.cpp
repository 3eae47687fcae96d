#include "Prompter.h"

#include <cstdio>

namespace tarvo {

void StderrPrompter::message(const QString& title, const QString& text, Icon)
{
    // Boxes may carry CR or CR LF line breaks; on a terminal one line reads better.
    QString flat = text;
    flat.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(), flat.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace tarvo
