#pragma once

#include "JournalRecord.h"

#include <QColor>
#include <QPalette>
#include <QString>

namespace tarvo {

// The colour a verdict gives a row of the journal or a slot's reply boxes: green for a reply whose
// check held, amber for a bad check value (or bytes that are no frame), red for no answer or an error.
// The hue is mixed into the palette's own base colour, so dark palettes get dark tints and the
// palette's text stays readable on them. Invalid for a verdict that says nothing of the controller
// (stopped, no reply expected): such a row or box keeps its usual colour.
QColor verdictTint(JournalRecord::Verdict verdict, const QPalette& palette);

// The verdict in words, for tooltips ("Answered", "No answer", ...).
QString verdictCaption(JournalRecord::Verdict verdict);

} // namespace tarvo
