#pragma once

#include <QString>
#include <QtGlobal>

// Text of a measurement error code: 0 "?", 1 "ok", 2 "%", 3 "?%", anything else empty.
QString StatusText(quint8 code);

// The legend of the error-code fields, one line per text that StatusText gives:
// a title line, then "<text> — <code>" for each code with a text, in code order,
// and last "пустое поле — <first>..<last>" for each run of codes without one
// (a run of one code is written as that code alone).
QString StatusLegend();
