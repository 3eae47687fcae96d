#include "VerdictTint.h"

#include <array>

namespace tarvo {

namespace {

QColor mixTint(JournalRecord::Verdict verdict, const QColor& base)
{
    using V = JournalRecord::Verdict;
    QColor hue;
    switch (verdict) {
    case V::Ok:
        hue = QColor(0x2e, 0x9d, 0x3a);
        break;
    case V::BadCheck:
    case V::Exception:
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
    // A light base takes less of the hue than a dark one for the same visible strength.
    const double share = base.lightnessF() > 0.5 ? 0.24 : 0.38;
    auto mix = [share](double b, double h) { return b * (1 - share) + h * share; };
    return QColor::fromRgbF(static_cast<float>(mix(base.redF(), hue.redF())),
                            static_cast<float>(mix(base.greenF(), hue.greenF())),
                            static_cast<float>(mix(base.blueF(), hue.blueF())));
}

} // namespace

QColor verdictTint(JournalRecord::Verdict verdict, const QPalette& palette)
{
    // Asked for every reply and every journal cell drawn, and nearly always of the same palette: the
    // tints are mixed again only when its base colour changes.
    static bool mixed = false;
    static QRgb mixedFor = 0;
    static std::array<QColor, static_cast<size_t>(JournalRecord::Verdict::Exception) + 1> tints;
    const QColor base = palette.color(QPalette::Base);
    if (!mixed || base.rgba() != mixedFor) {
        for (size_t v = 0; v < tints.size(); ++v)
            tints[v] = mixTint(static_cast<JournalRecord::Verdict>(v), base);
        mixed = true;
        mixedFor = base.rgba();
    }
    const auto v = static_cast<size_t>(verdict);
    return v < tints.size() ? tints[v] : QColor();
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
    case V::Exception:
        return QStringLiteral("Refused (Modbus exception)");
    }
    return {};
}

} // namespace tarvo
