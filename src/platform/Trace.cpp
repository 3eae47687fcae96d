#include "Trace.h"

#include <QFile>
#include <cstdio>

namespace tarvo {

StderrTrace::StderrTrace() : m_filePath(qEnvironmentVariable("TARVO_TRACE")) {}

void StderrTrace::write(const QString& line)
{
    const QByteArray bytes = line.toLatin1() + "\r\n";
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
    if (!m_filePath.isEmpty()) {
        QFile file(m_filePath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.write(bytes);
    }
}

} // namespace tarvo
