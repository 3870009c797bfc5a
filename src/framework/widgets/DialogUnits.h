#pragma once
// Dialog units to pixels. A dialog template places controls in units of the
// dialog font: a horizontal unit is a quarter of the font's average character
// width (the mean width of the 52 letters A-Z, a-z, rounded), a vertical unit
// an eighth of its height. Conversion rounds to the nearest pixel.

#include <QFont>
#include <QRect>

namespace chatterly {

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const;
    int y(int units) const;
    QRect rect(int x, int y, int width, int height) const;

    // The station's dialog font: the system sans-serif at 8 point.
    static QFont dialogFont();

  private:
    int baseX_;
    int baseY_;
};

}  // namespace chatterly
