#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class WaitWindow;
}

// The view shown while no key is attached: a centred white line of text on the
// main window's black, with room for one hint line below it.
class WaitWindow : public QWidget
{
    Q_OBJECT
public:
    explicit WaitWindow(QWidget *parent = nullptr);
    ~WaitWindow() override;

    QString text() const;
    QString hint() const;

public slots:
    // An extra line under the waiting text; hidden while empty.
    void setHint(const QString &text);

private:
    std::unique_ptr<Ui::WaitWindow> ui;
};
