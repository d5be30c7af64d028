#include "waitwindow.h"

#include <QBoxLayout>
#include <QLabel>

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
{
    auto *layout = new QVBoxLayout(this);
    label = new QLabel(QStringLiteral("Waiting for USB connection"));
    label->setObjectName(QStringLiteral("lblWaiting"));
    label->setPalette(whiteText());
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    layout->addWidget(label);
    layout->setAlignment(label, Qt::AlignCenter);

    hintLabel = new QLabel;
    hintLabel->setObjectName(QStringLiteral("lblHint"));
    hintLabel->setPalette(whiteText());
    hintLabel->setAlignment(Qt::AlignCenter);
    hintLabel->setWordWrap(true);
    hintLabel->hide();
    layout->addWidget(hintLabel);
}

QString WaitWindow::text() const
{
    return label->text();
}

QString WaitWindow::hint() const
{
    return hintLabel->text();
}

void WaitWindow::setHint(const QString &text)
{
    hintLabel->setText(text);
    hintLabel->setVisible(!text.isEmpty());
}
