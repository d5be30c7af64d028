#include "waitwindow.h"

#include "ui_waitwindow.h"

namespace {
QPalette whiteText()
{
    QPalette pal;
    pal.setBrush(QPalette::All, QPalette::WindowText,
                 QBrush(QColor(255, 255, 255), Qt::SolidPattern));
    return pal;
}
} // namespace

WaitWindow::WaitWindow(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::WaitWindow>())
{
    ui->setupUi(this);
    ui->lblWaiting->setPalette(whiteText());
    ui->lblHint->setPalette(whiteText());
}

WaitWindow::~WaitWindow() = default;

QString WaitWindow::text() const
{
    return ui->lblWaiting->text();
}

QString WaitWindow::hint() const
{
    return ui->lblHint->text();
}

void WaitWindow::setHint(const QString &text)
{
    ui->lblHint->setText(text);
    ui->lblHint->setVisible(!text.isEmpty());
}
