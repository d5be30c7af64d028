#pragma once

class QComboBox;
class QString;

// Raises the combo box's minimum width so that `text` shows in it whole, never
// lowers it. Combo boxes clip a current text that is wider than their field.
void widenForText(QComboBox *box, const QString &text);
