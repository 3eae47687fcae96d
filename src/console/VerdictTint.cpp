#include "VerdictTint.h"

namespace tarvo {

QColor verdictTint(JournalRecord::Verdict verdict, const QPalette& palette)
{
    using V = JournalRecord::Verdict;
    QColor hue;
    switch (verdict) {
    case V::Ok:
        hue = QColor(0x2e, 0x9d, 0x3a);
        break;
    case V::BadCheck:
    case V::Unknown:
        hue = QColor(0xf2, 0xa9, 0x00);
        break;
    case V::NoAnswer:
    case V::Error:
        hue = QColor(0xd3, 0x2f, 0x2f);
        break;
    case V::NoReplyExpected:
    case V::Stopped:
        return {};
    }
    const QColor base = palette.color(QPalette::Base);
    // A light base takes less of the hue than a dark one for the same visible strength.
    const double share = base.lightnessF() > 0.5 ? 0.24 : 0.38;
    auto mix = [share](double b, double h) { return b * (1 - share) + h * share; };
    return QColor::fromRgbF(static_cast<float>(mix(base.redF(), hue.redF())),
                            static_cast<float>(mix(base.greenF(), hue.greenF())),
                            static_cast<float>(mix(base.blueF(), hue.blueF())));
}

QString verdictCaption(JournalRecord::Verdict verdict)
{
    using V = JournalRecord::Verdict;
    switch (verdict) {
    case V::Ok:
        return QStringLiteral("Answered");
    case V::BadCheck:
        return QStringLiteral("Bad check value");
    case V::NoAnswer:
        return QStringLiteral("No answer");
    case V::NoReplyExpected:
        return QStringLiteral("Sent, no reply expected");
    case V::Stopped:
        return QStringLiteral("Stopped");
    case V::Error:
        return QStringLiteral("Error");
    case V::Unknown:
        return QStringLiteral("Not a frame of the protocol");
    }
    return {};
}

} // namespace tarvo
