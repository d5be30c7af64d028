#include "mainwindow.h"

#include "keywindow.h"
#include "waitwindow.h"

#include <QBoxLayout>

#include <utility>

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

    box->addWidget(waitWindow);
    box->addWidget(keyWindow);
    keyWindow->hide();
    waitWindow->show();

    setPalette(pal);
    setAutoFillBackground(true);
    setWindowTitle(QStringLiteral("Boxwright v1.0.2"));
    fixSize(250, 150);
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
        fixSize(250, 150);
        break;
    case Dashboard:
        keyWindow->resetView();
        keyWindow->show();
        waitWindow->hide();
        fixSize(310, 400);
        break;
    default:
        break;
    }
}

void MainWindow::fixSize(int w, int h)
{
    resize(w, h);
    setFixedSize(w, h);
}
