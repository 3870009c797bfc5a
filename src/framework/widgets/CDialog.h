#pragma once
// A dialog laid out from a dialog template, as both of the station's windows
// are: a fixed-size window in the dialog font whose controls stand at the
// template's positions in dialog units (DialogUnits), are known by their
// identifiers, and take the keyboard focus in template order. Buttons are
// bound to handlers that run through the generic error report, so an error
// that escapes one is shown and the window goes on. Enter presses the push
// button that has the focus, else the window's Enter button (its default
// command), if that is enabled; a push-like check box with the focus is no
// push button. DoModal centres the window on its parent's screen (else the
// primary one), brings it forward and runs it until it ends. F1 shows the
// help (HelpPage).

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <vector>

#include "framework/widgets/DialogUnits.h"

class QPushButton;

namespace chatterly {

class CDialog : public QDialog {
    Q_OBJECT
  public:
    struct Template {
        QString caption;
        int width = 0;  // client area, dialog units
        int height = 0;
        bool minimiseButton = false;
        int clientEdge = 0;  // pixels of sunken edge around the client area
    };

    // The control with identifier id, or nullptr.
    QWidget* Control(int id) const;

    // Centres the window, shows it, brings it forward and runs it modally;
    // returns its result.
    int DoModal();
    // Puts the keyboard focus on the first control in tab order.
    void FocusFirstControl();

  protected:
    CDialog(const Template& layout, QWidget* parent);

    // Places control at the template position x, y, width, height (dialog
    // units); id 0 names a control that nothing addresses. Controls that take
    // the focus take it in the order they are added.
    template <typename Widget>
    Widget* AddControl(int id, Widget* control, int x, int y, int width, int height) {
        Place(id, control, x, y, width, height);
        return control;
    }
    // A push button (pushLike: a check box that looks like one) that never
    // becomes the default button by taking the focus.
    QPushButton* AddButton(int id, const char* caption, int x, int y, int width, int height,
                           bool pushLike = false);
    // Ends the template: sets the tab order of the controls added.
    void EndTemplate();
    // The button Enter presses when no push button has the focus.
    void SetEnterButton(int id) { enterButton_ = id; }

    // Runs handler, through the generic error report, on each click of the
    // button with identifier id.
    void Bind(int id, std::function<void()> handler);

    // Draws the sunken client edge, if the template has one.
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Place(int id, QWidget* control, int x, int y, int width, int height);

    DialogUnits units_;
    int clientEdge_;
    int enterButton_ = 0;
    std::map<int, QWidget*> controls_;
    std::vector<QWidget*> templateOrder_;
};

}  // namespace chatterly
