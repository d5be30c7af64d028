#include "message_box.h"

#include <QGridLayout>
#include <QSpacerItem>

void makeReadable(QMessageBox &box)
{
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // The box sizes itself by its contents; a spacer across its grid is the one
    // minimum width it keeps.
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    if (!grid)
        return;
    const int width = box.fontMetrics().horizontalAdvance(box.windowTitle()) + TitleBarExtra;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

void showMessageBox(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    makeReadable(box);
    box.exec();
}
