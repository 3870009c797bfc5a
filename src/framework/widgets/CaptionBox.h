#pragma once
// A group box whose caption changes often (a running clock): it draws the
// caption in the group box's own place and style, but a change repaints only
// where the caption stood and stands, not the whole box and every control
// stacked on it, as a new group-box title would. The caption is the box's
// accessible name.

#include <QGroupBox>
#include <QRect>
#include <QString>
#include <QStyleOptionGroupBox>

namespace chatterly {

class CaptionBox : public QGroupBox {
    Q_OBJECT
  public:
    explicit CaptionBox(const QString& caption, QWidget* parent = nullptr);

    QString caption() const { return caption_; }
    // Painted at once (also while the GUI thread serves only window
    // requests); an unchanged caption paints nothing.
    void setCaption(const QString& caption);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QStyleOptionGroupBox styleOption() const;
    QRect captionRect() const;

    QString caption_;
    QRect row_;  // the caption's row; empty: to be found
};

}  // namespace chatterly
