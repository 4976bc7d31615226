// Model colours and fonts mapped to the desktop's palette and fonts.
#include <QFontDatabase>

#include "qt/appearance_p.h"

namespace kevra::qt {

namespace {

struct SystemColour {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// System colours by number. The title-bar colours (2, 3, 9, 19, 27, 28) take
// the palette's highlight, which is what the desktop uses for the active
// element; the rest map to the role that plays the same part.
constexpr SystemColour kSystemColours[] = {
    {QPalette::Active, QPalette::Button},           // 0 scroll bar
    {QPalette::Active, QPalette::Dark},             // 1 desktop
    {QPalette::Active, QPalette::Highlight},        // 2 active title bar
    {QPalette::Inactive, QPalette::Mid},            // 3 inactive title bar
    {QPalette::Active, QPalette::Window},           // 4 menu
    {QPalette::Active, QPalette::Base},             // 5 window background
    {QPalette::Active, QPalette::Shadow},           // 6 window frame
    {QPalette::Active, QPalette::WindowText},       // 7 menu text
    {QPalette::Active, QPalette::Text},             // 8 window text
    {QPalette::Active, QPalette::HighlightedText},  // 9 active title bar text
    {QPalette::Active, QPalette::Window},           // 10 active border
    {QPalette::Inactive, QPalette::Window},         // 11 inactive border
    {QPalette::Active, QPalette::Dark},             // 12 application workspace
    {QPalette::Active, QPalette::Highlight},        // 13 selection
    {QPalette::Active, QPalette::HighlightedText},  // 14 selected text
    {QPalette::Active, QPalette::Button},           // 15 button face
    {QPalette::Active, QPalette::Dark},             // 16 button shadow
    {QPalette::Disabled, QPalette::Text},           // 17 disabled text
    {QPalette::Active, QPalette::ButtonText},       // 18 button text
    {QPalette::Inactive, QPalette::WindowText},     // 19 inactive title bar text
    {QPalette::Active, QPalette::Light},            // 20 button highlight
    {QPalette::Active, QPalette::Shadow},           // 21 dark 3-D shadow
    {QPalette::Active, QPalette::Midlight},         // 22 light 3-D edge
    {QPalette::Active, QPalette::ToolTipText},      // 23 tooltip text
    {QPalette::Active, QPalette::ToolTipBase},      // 24 tooltip background
    {QPalette::Active, QPalette::Button},           // 25 (unused)
    {QPalette::Active, QPalette::Link},             // 26 hot-tracked item
    {QPalette::Active, QPalette::Highlight},        // 27 active title bar gradient
    {QPalette::Inactive, QPalette::Mid},            // 28 inactive title bar gradient
    {QPalette::Active, QPalette::Highlight},        // 29 menu highlight
    {QPalette::Active, QPalette::Window},           // 30 menu bar
};

}  // namespace

QColor colourFor(uint32_t value, const QPalette& palette) {
    if (value & 0x80000000u) {
        const uint32_t n = value & 0x00FFFFFFu;
        if (n < std::size(kSystemColours))
            return palette.color(kSystemColours[n].group, kSystemColours[n].role);
        return palette.color(QPalette::Active, QPalette::Window);
    }
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

QFont fontFor(const std::string& family, double points, int weight, bool italic, bool underline,
              const QFont& base) {
    QFont font(base);
    const QString name = QString::fromStdString(family);
    if (!name.isEmpty() && QFontDatabase::hasFamily(name)) font.setFamily(name);
    if (points > 0) font.setPointSizeF(points);
    font.setWeight(static_cast<QFont::Weight>(qBound(1, weight, 1000)));
    font.setItalic(italic);
    font.setUnderline(underline);
    return font;
}

QFont fontFor(const StdFont& font, const QFont& base) {
    return fontFor(font.Name, font.Size, font.Bold ? 700 : 400, font.Italic, font.Underline, base);
}

}  // namespace kevra::qt
