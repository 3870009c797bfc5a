#pragma once
// The status line: one plain-text line under the station window's controls
// that shows the station's latest notice with the time it came, for what
// must not stop the user with a box (a message that was not delivered, calls
// that failed while a box was up). A notice may come from any thread; it is
// shown by the GUI thread on the one line installed, and said on stderr when
// there is none (no window, or the window has gone). The text is shown as
// plain text, never as markup; what does not fit ends in "…", and the whole
// line is the label's tool tip and accessible name.
//
// To assistive technology the line is named by what it shows ("Status line"
// until the first notice), like the window's other changing captions.

#include <QLabel>
#include <QString>
#include <string>

namespace chatterly {

class StatusLine : public QLabel {
    Q_OBJECT
  public:
    // Becomes the line notices go to.
    explicit StatusLine(QWidget* parent);
    ~StatusLine() override;

    // Any thread: shows text, after the time of day, on the installed line.
    static void post(const QString& text);
    // The same for a text in the station's 8-bit encoding.
    static void post(const std::string& text);
    static void post(const char* text) { post(std::string(text)); }

    // The latest notice, without its time ("" before the first).
    QString notice() const { return notice_; }

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void show(const QString& text);

    QString notice_;
    QString line_;  // the notice with its time, whole (the label shows what fits)
};

}  // namespace chatterly
