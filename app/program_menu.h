#pragma once

#include <QObject>
#include <QString>

class cLinker;
class LogRing;
class QAction;
class QMenu;
class QToolButton;
class QWidget;
class usbLink;

// A small menu button in the window's top right corner, over whichever view is
// shown: "About Boxwright", "Save diagnostics...", "Log out" (of the web
// service; only while someone is logged in and no workflow step waits) and
// "Seals today…" (today's packing-log lines).
// Further actions go into menu(). Owned by the window.
class ProgramMenu : public QObject
{
    Q_OBJECT
public:
    // ring: the program's log capture (may be null: no log lines in the file).
    ProgramMenu(QWidget *window, cLinker *linker, usbLink *link, const LogRing *ring);

    QMenu *menu() const { return menu_; }
    QToolButton *button() const { return button_; }

public slots:
    void showAbout();
    void saveDiagnosticsAsked();
    void showSealsToday();
    void logOut();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void place();
    void updateActions();

    QWidget *window_;
    cLinker *linker_;
    usbLink *link_;
    const LogRing *ring_;
    QToolButton *button_;
    QMenu *menu_;
    QAction *logOut_;
    QString lastFolder_;
};
