#include "permission_notice.h"

#include "usb_link.h"
#include "waitwindow.h"

#include <QTimer>

PermissionNotice::PermissionNotice(std::function<UsbAccessProblem()> source, QObject *parent,
                                   int pollMs)
    : QObject(parent)
    , source_(std::move(source))
    , poll_(new QTimer(this))
{
    connect(poll_, &QTimer::timeout, this, &PermissionNotice::deviceDenied);
    poll_->start(pollMs);
}

void PermissionNotice::deviceDenied()
{
    show(source_ ? source_().hint : QString());
}

void PermissionNotice::keyConnected(bool attached)
{
    if (attached)
        show(QString());
}

void PermissionNotice::show(const QString &hint)
{
    if (hint == hint_)
        return;
    hint_ = hint;
    emit hintChanged(hint_);
}

PermissionNotice *wirePermissionNotice(usbLink *link, WaitWindow *view)
{
    auto *notice = new PermissionNotice([link] { return link->accessProblem(); }, view);
    // The link's signals come from its own thread and are queued to this one.
    QObject::connect(link, &usbLink::permissionProblem, notice, &PermissionNotice::deviceDenied);
    QObject::connect(link, &usbLink::usbConnected, notice, &PermissionNotice::keyConnected);
    QObject::connect(notice, &PermissionNotice::hintChanged, view, &WaitWindow::setHint);
    return notice;
}
