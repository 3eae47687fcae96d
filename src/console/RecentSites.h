#pragma once

#include <QStringList>

namespace tarvo {

// The site folders last worked in, newest first, at most kMost. Kept per user (QSettings), not in a
// site: they are where this technician has been, not part of any site's evidence.
class RecentSites {
public:
    static constexpr int kMost = 8;

    static QStringList list();
    // Puts the folder first (once, by its absolute path), dropping the oldest beyond kMost.
    static void add(const QString& folder);
    static void remove(const QString& folder);
};

} // namespace tarvo
