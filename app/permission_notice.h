#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QTimer;
class usbLink;
class WaitWindow;

// The udev rule that lets the logged-in user open the key.
constexpr const char *kUdevRulesFile = "70-boxwright-key.rules";

// Turns "the key is there but cannot be opened" into the waiting view's hint
// line, and clears it once the link no longer reports the problem (access
// granted, or the key unplugged). The link keeps searching meanwhile, so access
// granted while the program runs connects without a restart.
class PermissionNotice : public QObject
{
    Q_OBJECT
public:
    // source: the node the link currently cannot open, or empty. Asked every
    // pollMs, which also catches a report made before anything was connected.
    explicit PermissionNotice(std::function<QString()> source, QObject *parent = nullptr,
                              int pollMs = 1000);

    QString hint() const { return hint_; }
    static QString hintText();

public slots:
    void deviceDenied(const QString &node);
    void keyConnected(bool attached);

signals:
    void hintChanged(const QString &hint);

private:
    void show(const QString &node);

    std::function<QString()> source_;
    QTimer *poll_;
    QString node_;
    QString hint_;
};

// The program's wiring: the link's reports to the waiting view's hint line.
PermissionNotice *wirePermissionNotice(usbLink *link, WaitWindow *view);
