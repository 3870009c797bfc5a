#pragma once
// Modal message boxes: an OK button, an icon (warning unless another is
// named), and the application title as caption. A box is shown on the GUI
// thread; a worker that raises one waits until it is dismissed, so the
// failure is reported on the thread that met it and that thread goes on only
// once the user has seen it. Texts are 8-bit strings in the station's
// encoding (AnsiCodec) and are converted at this edge.
//
// Tests install a seam: every box then goes to the seam, which sees its text,
// icon, caption and owner and dismisses it by returning.

#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace chatterly {

enum class MessageIcon { Warning, Information, Stop };

struct MessageBoxRecord {
    std::string text;  // 8-bit station encoding ('?' for what it cannot hold)
    QString shown;     // the text as the box shows it
    MessageIcon icon;
    std::string caption;  // the application title
    bool owned;           // owned by the station window (false: by none)
};

class MessageBox {
  public:
    using Seam = std::function<void(const MessageBoxRecord&)>;

    // Shows the box and returns once it has been dismissed. Boxes are owned by
    // the main window set below, unless unowned is true.
    static void show(const std::string& text, MessageIcon icon = MessageIcon::Warning,
                     bool unowned = false);
    // The same for a text that may hold what the station's encoding cannot
    // (the characters a field refused, say).
    static void show(const QString& text, MessageIcon icon = MessageIcon::Warning,
                     bool unowned = false);
    static void show(const char* text, MessageIcon icon = MessageIcon::Warning,
                     bool unowned = false) {
        show(std::string(text), icon, unowned);
    }

    // The window that owns boxes raised during its run (none: nullptr).
    static void setMainWindow(QWidget* window);

    // The caption of every box: the executable's file name without extension.
    static std::string applicationTitle();
    static void setApplicationTitle(std::string title);

    // The station window has gone: from now on a box is said on stderr
    // instead, so nothing waits for an OK the user cannot see coming.
    static void closeDown();

    // Tests: route every box to seam (nullptr restores the screen).
    static void setSeam(Seam seam);
};

}  // namespace chatterly
