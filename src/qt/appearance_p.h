// How the widget models' colours and fonts look on a Qt desktop. Private to
// the Qt front-end (not installed).
//
// The models keep colours as the control writes them: a 32-bit value in
// which 0x80000000 + n names system colour n, and anything else is a plain
// colour with red in the low byte. System colours follow the desktop's
// palette, so a dark theme gives a dark list bar. Fonts keep their size,
// weight, slant and underline; a family the desktop lacks (the design fonts
// are not installed on Linux desktops) falls back to the application font.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <cstdint>
#include <string>

#include "widgets/font.h"

namespace kevra::qt {

// The colour a model colour value stands for under `palette`.
QColor colourFor(uint32_t value, const QPalette& palette);

// The font a model font stands for, starting from `base` (family fallback).
QFont fontFor(const StdFont& font, const QFont& base);
QFont fontFor(const std::string& family, double points, int weight, bool italic, bool underline,
              const QFont& base);

}  // namespace kevra::qt
