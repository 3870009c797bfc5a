#pragma once
// The station's help: the HTML page installed with the program, at
// ../share/chatterly/chatterly.html from the program's folder (the manual
// page made readable in a browser), shown in the desktop's viewer. F1 in
// either window shows it; where there is no page, or no viewer to show it,
// F1 does nothing.

#include <QString>

namespace chatterly {

class HelpPage {
  public:
    // The page's file where it is installed, or empty.
    static QString location();
    // Opens the page in the desktop's viewer; false when there is none.
    static bool show();

    // Tests: the page to show instead of the installed one.
    static void setLocation(const QString& path);
};

}  // namespace chatterly
