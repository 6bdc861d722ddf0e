#include "app/qt/dialog_units.h"

#include <QFontMetrics>

namespace mub {

namespace {

// a * b / c rounded half away from zero, as the platform's MulDiv does.
int mulDiv(int a, int b, int c) {
    long long product = static_cast<long long>(a) * b;
    long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

} // namespace

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetrics metrics(font);
    int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseWidth_ = (letters + 26) / 52;
    baseHeight_ = metrics.height();
    if (baseWidth_ < 1) baseWidth_ = 1;
    if (baseHeight_ < 1) baseHeight_ = 1;
}

int DialogUnits::x(int units) const { return mulDiv(units, baseWidth_, 4); }

int DialogUnits::y(int units) const { return mulDiv(units, baseHeight_, 8); }

QRect DialogUnits::rect(int left, int top, int w, int h) const {
    return QRect(x(left), y(top), x(w), y(h));
}

QFont windowFont() {
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPointSize(9);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace mub
