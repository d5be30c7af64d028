#include "fit_text.h"

#include <QComboBox>
#include <QStyle>
#include <QStyleOptionComboBox>

void widenForText(QComboBox *box, const QString &text)
{
    // What the style keeps around the text field (frame, arrow), measured on a
    // box of any width.
    constexpr int Probe = 1000;
    QStyleOptionComboBox opt;
    opt.initFrom(box);
    opt.editable = box->isEditable();
    opt.frame = box->hasFrame();
    opt.subControls = QStyle::SC_All;
    opt.rect = QRect(0, 0, Probe, box->sizeHint().height());
    const QRect field = box->style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                                     QStyle::SC_ComboBoxEditField, box);
    // The label is drawn one pixel inside the field on each side.
    const int needed = box->fontMetrics().horizontalAdvance(text) + 2 + Probe - field.width();
    if (needed > box->minimumWidth())
        box->setMinimumWidth(needed);
}
