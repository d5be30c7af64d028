#include "program_menu.h"

#include "about_box.h"
#include "diagnostics.h"
#include "linker.h"
#include "program_facts.h"
#include "seals_today.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QFileDialog>
#include <QLoggingCategory>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QStandardPaths>
#include <QToolButton>
#include <QWidget>

Q_LOGGING_CATEGORY(lcProgramMenu, "programmenu")

namespace {

// Three white dots stacked: readable on the window's black.
QIcon menuIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int y : {3, 8, 13})
        p.drawEllipse(QPointF(8, y), 1.6, 1.6);
    return QIcon(pixmap);
}

} // namespace

ProgramMenu::ProgramMenu(QWidget *window, cLinker *linker, usbLink *link, const LogRing *ring)
    : QObject(window)
    , window_(window)
    , linker_(linker)
    , link_(link)
    , ring_(ring)
    , button_(new QToolButton(window))
    , menu_(new QMenu(button_))
{
    button_->setObjectName(QStringLiteral("btnProgramMenu"));
    button_->setIcon(menuIcon());
    button_->setAutoRaise(true);
    button_->setToolTip(tr("Menu"));
    button_->setAccessibleName(tr("Program menu"));
    button_->setPopupMode(QToolButton::InstantPopup);
    button_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    button_->setMenu(menu_);

    QAction *about = menu_->addAction(tr("About Boxwright"), this, &ProgramMenu::showAbout);
    about->setObjectName(QStringLiteral("actionAbout"));
    QAction *save
            = menu_->addAction(tr("Save diagnostics..."), this, &ProgramMenu::saveDiagnosticsAsked);
    save->setObjectName(QStringLiteral("actionSaveDiagnostics"));
    menu_->addSeparator();
    logOut_ = menu_->addAction(tr("Log out"), this, &ProgramMenu::logOut);
    logOut_->setObjectName(QStringLiteral("actionLogOut"));
    // Last, so the entries above keep their places for keyboard users.
    menu_->addSeparator();
    QAction *seals = menu_->addAction(tr("Seals today\u2026"), this, &ProgramMenu::showSealsToday);
    seals->setObjectName(QStringLiteral("actionSealsToday"));
    connect(menu_, &QMenu::aboutToShow, this, &ProgramMenu::updateActions);
    updateActions();

    window_->installEventFilter(this);
    place();
}

bool ProgramMenu::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window_ && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        place();
    return false;
}

void ProgramMenu::place()
{
    button_->adjustSize();
    button_->move(window_->width() - button_->width(), 0);
    button_->raise();
}

void ProgramMenu::updateActions()
{
    const PackingWorkflow &workflow = linker_->packingWorkflow();
    logOut_->setEnabled(workflow.loggedIn() && !workflow.stepRunning());
}

void ProgramMenu::logOut()
{
    // Also refused by the workflow itself while a step waits.
    if (!linker_->packingWorkflow().logOut())
        qCDebug(lcProgramMenu) << "log out refused: nobody logged in, or a step is running";
    updateActions();
}

void ProgramMenu::showAbout()
{
    AboutBox box(collectFacts(*linker_, *link_), window_);
    box.exec();
}

void ProgramMenu::showSealsToday()
{
    const PackingLog &log = linker_->packingWorkflow().packingLog();
    SealsTodayDialog dialog(log.filePath(), log.linesOf(QDate::currentDate()), window_);
    dialog.exec();
}

void ProgramMenu::saveDiagnosticsAsked()
{
    if (lastFolder_.isEmpty())
        lastFolder_ = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder
            = QFileDialog::getExistingDirectory(window_, tr("Save diagnostics to"), lastFolder_);
    if (folder.isEmpty())
        return;
    lastFolder_ = folder;

    QElapsedTimer clock;
    clock.start();
    static const LogRing noLog;
    const DiagnosticsSaved saved
            = saveDiagnostics(folder, *linker_, *link_, ring_ ? *ring_ : noLog);
    qCDebug(lcProgramMenu).noquote()
            << QStringLiteral("diagnostics written in %1 ms").arg(clock.elapsed());

    if (saved.error.isEmpty()) {
        QMessageBox::information(window_, tr("Diagnostics saved"),
                                 tr("The diagnostics were saved to:\n%1\n\nThey hold no password, "
                                    "token or comment.")
                                         .arg(QDir::toNativeSeparators(saved.path)));
    } else {
        QMessageBox::warning(window_, tr("Diagnostics not saved"),
                             tr("%1 could not be written:\n%2")
                                     .arg(QDir::toNativeSeparators(saved.path), saved.error));
    }
}
