// Dialog units to pixels, the way dialog templates are laid out: the base
// units come from the window font (average width of the 52 Latin letters,
// and the font height), x scales by width / 4 and y by height / 8.
#pragma once

#include <QFont>
#include <QRect>

namespace mub {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseWidth, int baseHeight) : baseWidth_(baseWidth), baseHeight_(baseHeight) {}

    int x(int units) const;
    int y(int units) const;
    QRect rect(int x, int y, int w, int h) const;

    int baseWidth() const { return baseWidth_; }
    int baseHeight() const { return baseHeight_; }

private:
    int baseWidth_;
    int baseHeight_;
};

// The font every window of the program uses.
QFont windowFont();

} // namespace mub
