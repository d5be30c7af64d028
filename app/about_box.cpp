#include "about_box.h"

#include "program_facts.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QIcon>
#include <QLabel>
#include <QUrl>

namespace {

QString keyText(const KeyFacts &key)
{
    if (key.serial.isEmpty())
        return AboutBox::tr("none attached");
    QString text
            = AboutBox::tr("serial %1, software %2, hardware %3")
                      .arg(key.serial, key.software.isEmpty() ? QStringLiteral("-") : key.software,
                           key.hardware.isEmpty() ? QStringLiteral("-") : key.hardware);
    if (!key.attached)
        text += AboutBox::tr(" (last attached)");
    return text;
}

} // namespace

AboutBox::AboutBox(const ProgramFacts &facts, QWidget *parent)
    : QDialog(parent)
    , form_(new QFormLayout)
{
    setWindowTitle(tr("About Boxwright"));

    auto *icon = new QLabel;
    icon->setPixmap(QApplication::windowIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);

    auto *title
            = new QLabel(QStringLiteral("<b>Boxwright %1</b>").arg(facts.version.toHtmlEscaped()));
    auto *summary = new QLabel(tr("Companion program for the USB seal key"));

    addRow(tr("Build"), facts.build);
    addRow(tr("Qt"), facts.qt);
    addRow(tr("USB"), facts.usbStack);
    addRow(tr("Key"), keyText(facts.key));
    addRow(tr("Packing log"), facts.packingLog);
    addRow(tr("Trace files"),
           facts.traceFolderWritable
                   ? facts.traceFolder
                   : tr("%1 (not writable: no trace files)").arg(facts.traceFolder));
    addRow(tr("Licence"), facts.licence);
    if (facts.notices.isEmpty())
        addRow(tr("Third-party notices"), tr("not installed"));
    else
        addLinkRow(tr("Third-party notices"), facts.notices);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *column = new QVBoxLayout;
    column->addWidget(title);
    column->addWidget(summary);
    column->addSpacing(8);
    column->addLayout(form_);
    auto *row = new QHBoxLayout;
    row->addWidget(icon);
    row->addLayout(column, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutBox::addLinkRow(const QString &label, const QString &path)
{
    const QString url = QUrl::fromLocalFile(QDir::fromNativeSeparators(path)).toString();
    auto *field = new QLabel(
            QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), path.toHtmlEscaped()));
    field->setObjectName(QStringLiteral("noticesLink"));
    field->setTextFormat(Qt::RichText);
    field->setTextInteractionFlags(Qt::TextBrowserInteraction);
    field->setOpenExternalLinks(true);
    form_->addRow(label + QLatin1Char(':'), field);
    text_ += label + QStringLiteral(": ") + path + QLatin1Char('\n');
}

void AboutBox::addRow(const QString &label, const QString &value)
{
    auto *field = new QLabel(value);
    field->setTextFormat(Qt::PlainText);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form_->addRow(label + QLatin1Char(':'), field);
    text_ += label + QStringLiteral(": ") + value + QLatin1Char('\n');
}
