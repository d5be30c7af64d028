#include "keywindow.h"

#include "arrworker.h"
#include "pbar.h"
#include "ui_keywindow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPainter>
#include <QThread>

Q_LOGGING_CATEGORY(lcKeyWindow, "keywindow")

namespace {

// Bounded join of the animation thread; its loop wakes at once on abort.
constexpr unsigned long JoinTimeoutMs = 5000;

const QColor Green(0, 255, 0);
const QColor Yellow(255, 255, 0);
const QColor Red(255, 0, 0);

QPalette textPalette(const QColor &color)
{
    QPalette pal;
    pal.setBrush(QPalette::All, QPalette::WindowText, QBrush(color, Qt::SolidPattern));
    return pal;
}

// The picture `name`; on a high-density screen its "@2x" drawing when there is one
// (read with a device pixel ratio of 2, so it shows at the same size, sharper).
QImage loadImage(const QString &dir, const QString &name)
{
    if (qApp->devicePixelRatio() > 1.0) {
        const QImage sharp(
                QDir(dir).filePath(QFileInfo(name).completeBaseName() + QStringLiteral("@2x.png")));
        if (!sharp.isNull())
            return sharp;
    }
    return QImage(QDir(dir).filePath(name));
}

// `image` at `size` device-independent pixels, keeping its pixel density.
QImage scaledTo(const QImage &image, QSize size, Qt::AspectRatioMode mode)
{
    if (image.isNull())
        return image;
    const qreal ratio = image.devicePixelRatio();
    QImage scaled = image.scaled(size * ratio, mode, Qt::FastTransformation);
    scaled.setDevicePixelRatio(ratio);
    return scaled;
}

QPixmap fitted(const QImage &image, int w, int h)
{
    return QPixmap::fromImage(scaledTo(image, QSize(w, h), Qt::KeepAspectRatio));
}

} // namespace

KeyWindow::KeyWindow(const QString &imageDir, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::KeyWindow>())
{
    loadImages(imageDir);
    ui->setupUi(this);
    details[0] = ui->lblDetail0;
    details[1] = ui->lblDetail1;
    details[2] = ui->lblDetail2;
    details[3] = ui->lblDetail3;
    details[3]->setPalette(textPalette(QColor(255, 255, 255)));
    ui->lblSession->setPalette(textPalette(QColor(255, 255, 255)));
    ui->lblStatus->setPalette(textPalette(Green));
    ui->lblBatteryText->setPalette(textPalette(Green));
    ui->lblServerIcon->setPixmap(serverIcon);
    ui->lblUsbIcon->setPixmap(usbIcon);
    for (QLabel *arrow : {ui->arrowSrvIn, ui->arrowUsbIn})
        setArrow(arrow, idleDown, false);
    for (QLabel *arrow : {ui->arrowSrvOut, ui->arrowUsbOut})
        setArrow(arrow, idleUp, false);
    ui->btnManual->setIcon(QIcon(handPath));

    connect(ui->btnScanTag, &QPushButton::clicked, this, &KeyWindow::requestScanTag);
    connect(ui->btnUnlock, &QPushButton::clicked, this, &KeyWindow::requestOpen);
    connect(ui->btnLock, &QPushButton::clicked, this, &KeyWindow::requestClose);
    connect(ui->btnManual, &QPushButton::clicked, this, &KeyWindow::requestTransfer);

    QPalette pal;
    pal.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(0, 0, 0), Qt::SolidPattern));
    setPalette(pal);
    setAutoFillBackground(true);

    setTransCount(0);
    startAnimation();
}

KeyWindow::~KeyWindow()
{
    worker->abort();
    animationThread->quit();
    if (!animationThread->wait(JoinTimeoutMs)) {
        // Never force a thread down; leaving the objects alive is the safe fault.
        qCCritical(lcKeyWindow) << "animation thread did not stop; leaving it";
        (void)worker.release();
        (void)animationThread.release();
    }
    qCDebug(lcKeyWindow) << "~KeyWindow";
}

void KeyWindow::loadImages(const QString &imageDir)
{
    litUp = fitted(loadImage(imageDir, QStringLiteral("gup.png")), 10, 10);
    idleUp = fitted(loadImage(imageDir, QStringLiteral("greyup.png")), 10, 10);
    litDown = fitted(loadImage(imageDir, QStringLiteral("odown.png")), 10, 10);
    idleDown = fitted(loadImage(imageDir, QStringLiteral("greydown.png")), 10, 10);
    usbIcon = QPixmap::fromImage(scaledTo(loadImage(imageDir, QStringLiteral("usb.png")),
                                          QSize(30, 30), Qt::IgnoreAspectRatio));
    serverIcon = QPixmap::fromImage(scaledTo(loadImage(imageDir, QStringLiteral("gint.png")),
                                             QSize(30, 30), Qt::IgnoreAspectRatio));

    lockImage = loadImage(imageDir, QStringLiteral("lockbigger.png"));
    const char *const batteryNames[5]
            = {"rbat0.png", "rbat1.png", "ybat2.png", "gbat3.png", "gbat4.png"};
    for (int i = 0; i < 5; ++i)
        battery[i] = fitted(loadImage(imageDir, QLatin1String(batteryNames[i])), 50, 40);
    // QIcon picks the "@2x" file beside it by itself.
    handPath = QDir(imageDir).filePath(QStringLiteral("white_hand.png"));
}

void KeyWindow::startAnimation()
{
    worker = std::make_unique<ArrWorker>();
    animationThread = std::make_unique<QThread>();
    animationThread->setObjectName(QStringLiteral("arrows"));
    worker->moveToThread(animationThread.get());

    connect(worker.get(), &ArrWorker::valueChanged, this, &KeyWindow::TransferBusy);
    connect(worker.get(), &ArrWorker::workRequested, animationThread.get(),
            [this] { animationThread->start(); });
    connect(animationThread.get(), &QThread::started, worker.get(), &ArrWorker::doWork);
    connect(worker.get(), &ArrWorker::finished, animationThread.get(), &QThread::quit,
            Qt::DirectConnection);

    if (worker->isWorking()) {
        worker->abort();
        animationThread->wait(JoinTimeoutMs);
    }
    worker->requestWork();
}

void KeyWindow::resetView()
{
    setBtnEnabled(true);
    setManual(false);
    details[3]->clear();
    ui->pbar->setPercent(0);
    details[2]->clear();
    details[1]->clear();
    details[0]->clear();
    ui->lblStatus->setText(QStringLiteral("READY"));
    setTransCount(0);
}

void KeyWindow::focusFirstButton()
{
    ui->btnScanTag->setFocus(Qt::OtherFocusReason);
}

std::optional<QColor> KeyWindow::colorForWord(const QString &text, Target target)
{
    if (text.contains(QLatin1String("green")))
        return Green;
    if (text.contains(QLatin1String("red"))) {
        // The status line never turns red; the search still stops at this word.
        if (target == Target::Status)
            return std::nullopt;
        return Red;
    }
    if (text.contains(QLatin1String("orange")))
        return QColor(255, 102, 0);
    if (text.contains(QLatin1String("turkois")))
        return QColor(0, 191, 255);
    if (target == Target::Status && text.contains(QLatin1String("yellow")))
        return Yellow;
    return std::nullopt;
}

int KeyWindow::batteryLevel(int val)
{
    if (val >= 80)
        return 4;
    if (val >= 60)
        return 3;
    if (val >= 40)
        return 2;
    if (val >= 20)
        return 1;
    return 0;
}

void KeyWindow::setReqBtn(bool) { }

void KeyWindow::updateLabel(uint Type, QString str)
{
    if (Type < 4)
        details[Type]->setText(str);
}

void KeyWindow::updateStatus(QString str)
{
    ui->lblStatus->setText(str);
}

void KeyWindow::updateStatusColor(QString str)
{
    if (const auto color = colorForWord(str, Target::Status))
        ui->lblStatus->setPalette(textPalette(*color));
}

void KeyWindow::updateLabelColor(uint Type, QString str)
{
    if (Type > 2)
        return;
    if (const auto color = colorForWord(str, Target::Detail)) {
        details[Type]->setPalette(textPalette(*color));
        repaint();
    }
}

void KeyWindow::updatePbar(int value)
{
    if (value == -1) {
        ui->pbar->setPercent(0);
        return;
    }
    ui->pbar->show();
    ui->pbar->setPercent(value);
}

void KeyWindow::updatePbarColor(int color)
{
    ui->pbar->setColorCode(color);
}

void KeyWindow::setBtnEnabled(bool val)
{
    ui->btnScanTag->setEnabled(val);
    ui->btnUnlock->setEnabled(val);
    ui->btnLock->setEnabled(val);
}

QColor KeyWindow::batteryColor(int level)
{
    // The colour of the battery picture at that level.
    return level >= 3 ? Green : level == 2 ? Yellow : Red;
}

void KeyWindow::setBattery(int val)
{
    const int level = batteryLevel(val);
    const QString text = QStringLiteral("%1 %").arg(val);
    ui->lblBattery->setPixmap(battery[level]);
    ui->lblBattery->setAccessibleName(QStringLiteral("Battery level %1").arg(text));
    ui->lblBatteryText->setText(text);
    ui->lblBatteryText->setPalette(textPalette(batteryColor(level)));
}

void KeyWindow::setManual(bool val)
{
    ui->btnManual->setVisible(val);
    ui->lineManual->setVisible(val);
}

void KeyWindow::setTransCount(int val)
{
    ui->lblLockCount->setAccessibleName(QStringLiteral("Lock counter %1").arg(val));
    if (lockImage.isNull()) {
        ui->lblLockCount->setPixmap(QPixmap());
        return;
    }
    QImage image = scaledTo(lockImage, QSize(50, 40), Qt::KeepAspectRatio)
                           .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        // Painted in device-independent pixels, whatever the picture's density.
        QPainter painter(&image);
        painter.setPen(Qt::black);
        painter.setFont(QFont(QStringLiteral("Arial"), 10));
        QRect rect(QPoint(0, 0), image.size() / image.devicePixelRatio());
        rect.setBottom(rect.bottom() + 10);
        painter.drawText(rect, Qt::AlignCenter, QString::number(val));
    }
    ui->lblLockCount->setPixmap(QPixmap::fromImage(image));
}

void KeyWindow::setSessionText(const QString &text)
{
    sessionText = text;
    showSessionLine();
}

void KeyWindow::setWorkflowWait(const QString &text)
{
    waitText = text;
    if (text.isEmpty())
        unsetCursor();
    else
        setCursor(Qt::BusyCursor);
    showSessionLine();
}

void KeyWindow::showSessionLine()
{
    const QString &text = waitText.isEmpty() ? sessionText : waitText;
    ui->lblSession->setText(text);
    ui->lblSession->setVisible(!text.isEmpty());
}

void KeyWindow::TransferBusy(int i)
{
    switch (i) {
    case 0:
        setArrow(ui->arrowUsbOut, litUp, true);
        break;
    case 1:
        setArrow(ui->arrowUsbIn, litDown, true);
        break;
    case 2:
        setArrow(ui->arrowSrvOut, litUp, true);
        break;
    case 3:
        setArrow(ui->arrowSrvIn, litDown, true);
        break;
    case 4:
        setArrow(ui->arrowUsbOut, idleUp, false);
        return;
    case 5:
        setArrow(ui->arrowUsbIn, idleDown, false);
        return;
    case 6:
        setArrow(ui->arrowSrvOut, idleUp, false);
        return;
    case 7:
        setArrow(ui->arrowSrvIn, idleDown, false);
        return;
    default:
        return;
    }
    worker->light(i);
}

void KeyWindow::setArrow(QLabel *label, const QPixmap &pixmap, bool lit)
{
    label->setPixmap(pixmap);
    label->setAccessibleDescription(lit ? QStringLiteral("active") : QStringLiteral("idle"));
}
