#include "permission_notice.h"

#include "usb_link.h"
#include "waitwindow.h"

#include <QTimer>

PermissionNotice::PermissionNotice(std::function<QString()> source, QObject *parent, int pollMs)
    : QObject(parent)
    , source_(std::move(source))
    , poll_(new QTimer(this))
{
    connect(poll_, &QTimer::timeout, this, [this] { show(source_ ? source_() : QString()); });
    poll_->start(pollMs);
}

QString PermissionNotice::hintText()
{
    return tr("No access to the key: udev rule %1 missing").arg(QLatin1String(kUdevRulesFile));
}

void PermissionNotice::deviceDenied(const QString &node)
{
    show(node);
}

void PermissionNotice::keyConnected(bool attached)
{
    if (attached)
        show(QString());
}

void PermissionNotice::show(const QString &node)
{
    if (node == node_)
        return;
    node_ = node;
    const QString hint = node.isEmpty() ? QString() : hintText();
    if (hint == hint_)
        return;
    hint_ = hint;
    emit hintChanged(hint_);
}

PermissionNotice *wirePermissionNotice(usbLink *link, WaitWindow *view)
{
    auto *notice = new PermissionNotice([link] { return link->permissionProblemNode(); }, view);
    // The link's signals come from its own thread and are queued to this one.
    QObject::connect(link, &usbLink::permissionProblem, notice, &PermissionNotice::deviceDenied);
    QObject::connect(link, &usbLink::usbConnected, notice, &PermissionNotice::keyConnected);
    QObject::connect(notice, &PermissionNotice::hintChanged, view, &WaitWindow::setHint);
    return notice;
}
