#include "mainwindow.h"

#include "keywindow.h"
#include "waitwindow.h"

#include <QBoxLayout>
#include <QEvent>

#include <utility>

namespace {
const QSize WaitingSize(250, 150);
const QSize DashboardSize(310, 400);
} // namespace

MainWindow::MainWindow(const QString &imageDir, std::function<void()> beforeTeardown,
                       QWidget *parent)
    : QWidget(parent)
    , box(new QVBoxLayout(this))
    , waitWindow(new WaitWindow)
    , keyWindow(new KeyWindow(imageDir))
    , teardown(std::move(beforeTeardown))
{
    QPalette pal;
    pal.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(0, 0, 0), Qt::SolidPattern));

    // Each view keeps its own margins.
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(waitWindow);
    box->addWidget(keyWindow);
    keyWindow->hide();
    waitWindow->show();

    setPalette(pal);
    setAutoFillBackground(true);
    setWindowTitle(QStringLiteral("Boxwright v1.0.2"));
    viewSize = WaitingSize;
    fitView();
}

MainWindow::~MainWindow()
{
    tearDown();
}

void MainWindow::tearDown()
{
    if (auto run = std::exchange(teardown, nullptr))
        run();
}

void MainWindow::setLayout(int View)
{
    switch (View) {
    case Waiting:
        keyWindow->hide();
        waitWindow->show();
        viewSize = WaitingSize;
        fitView();
        break;
    case Dashboard:
        keyWindow->resetView();
        keyWindow->show();
        waitWindow->hide();
        viewSize = DashboardSize;
        fitView();
        // The focus was lost with the hidden dashboard (a replug); Space presses
        // "Scan Tag" again, as on the first show.
        keyWindow->focusFirstButton();
        break;
    default:
        break;
    }
}

bool MainWindow::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    // A view's contents changed their needs (a new text, font or style).
    if (event->type() == QEvent::LayoutRequest)
        fitView();
    return handled;
}

void MainWindow::fitView()
{
    ensurePolished();
    box->activate();
    const QSize needed = box->totalMinimumSize();
    const int w = qMax(viewSize.width(), needed.width());
    int h = qMax(viewSize.height(), needed.height());
    // Wrapped text needs more lines in a narrower window.
    if (box->hasHeightForWidth())
        h = qMax(h, box->totalHeightForWidth(w));
    if (size() != QSize(w, h) || minimumSize() != QSize(w, h) || maximumSize() != QSize(w, h)) {
        resize(w, h);
        setFixedSize(w, h);
    }
}
