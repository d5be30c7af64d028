#pragma once

#include <QDialog>

struct ProgramFacts;

// Names the program, its build, what it runs on, the attached key, where the
// packing log and the trace files are, the licence and a link to the third-party
// notices. Every value can be selected and copied.
class AboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit AboutBox(const ProgramFacts &facts, QWidget *parent = nullptr);

    // The rows as shown, "Label: value" one per line.
    QString text() const { return text_; }

private:
    void addRow(const QString &label, const QString &value);
    // A file the operator can open with a click.
    void addLinkRow(const QString &label, const QString &path);

    class QFormLayout *form_;
    QString text_;
};
