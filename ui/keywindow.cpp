#include "keywindow.h"

#include "arrworker.h"
#include "pbar.h"

#include <QBoxLayout>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLoggingCategory>
#include <QPainter>
#include <QPushButton>
#include <QThread>

Q_LOGGING_CATEGORY(lcKeyWindow, "keywindow")

namespace {

// Bounded join of the animation thread; its loop wakes at once on abort.
constexpr unsigned long JoinTimeoutMs = 5000;

QPalette textPalette(const QColor &color)
{
    QPalette pal;
    pal.setBrush(QPalette::All, QPalette::WindowText, QBrush(color, Qt::SolidPattern));
    return pal;
}

QFrame *separator(QFrame::Shape shape)
{
    auto *line = new QFrame;
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QImage loadImage(const QString &dir, const QString &name)
{
    return QImage(QDir(dir).filePath(name));
}

QPixmap fitted(const QImage &image, int w, int h)
{
    if (image.isNull())
        return QPixmap();
    return QPixmap::fromImage(image.scaled(w, h, Qt::KeepAspectRatio, Qt::FastTransformation));
}

} // namespace

KeyWindow::KeyWindow(const QString &imageDir, QWidget *parent)
    : QWidget(parent)
{
    loadImages(imageDir);
    buildWidgets();

    QPalette pal;
    pal.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(0, 0, 0), Qt::SolidPattern));
    setPalette(pal);
    setAutoFillBackground(true);
    setWindowTitle(QStringLiteral("Varnex BT Key App"));

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
    litUp = QPixmap::fromImage(loadImage(imageDir, QStringLiteral("gup.png")));
    idleUp = QPixmap::fromImage(loadImage(imageDir, QStringLiteral("greyup.png")));
    litDown = QPixmap::fromImage(loadImage(imageDir, QStringLiteral("odown.png")));
    idleDown = QPixmap::fromImage(loadImage(imageDir, QStringLiteral("greydown.png")));
    for (QPixmap *p : {&litUp, &idleUp, &litDown, &idleDown}) {
        if (!p->isNull())
            *p = p->scaled(10, 10, Qt::KeepAspectRatio, Qt::FastTransformation);
    }

    const QImage usb = loadImage(imageDir, QStringLiteral("usb.png"));
    const QImage gint = loadImage(imageDir, QStringLiteral("gint.png"));
    if (!usb.isNull())
        usbIcon = QPixmap::fromImage(usb.scaled(30, 30));
    if (!gint.isNull())
        serverIcon = QPixmap::fromImage(gint.scaled(30, 30));

    lockImage = loadImage(imageDir, QStringLiteral("lockbigger.png"));
    const char *const batteryNames[5]
            = {"rbat0.png", "rbat1.png", "ybat2.png", "gbat3.png", "gbat4.png"};
    for (int i = 0; i < 5; ++i)
        battery[i] = fitted(loadImage(imageDir, QLatin1String(batteryNames[i])), 50, 40);
    handPath = QDir(imageDir).filePath(QStringLiteral("white_hand.png"));
}

void KeyWindow::buildWidgets()
{
    auto *top = new QVBoxLayout(this);

    auto *buttonRow = new QHBoxLayout;
    btnScan = new QPushButton(QStringLiteral("Scan Tag"));
    btnOpen = new QPushButton(QStringLiteral("Unlock"));
    btnClose = new QPushButton(QStringLiteral("Lock"));
    btnScan->setObjectName(QStringLiteral("btnScanTag"));
    btnOpen->setObjectName(QStringLiteral("btnUnlock"));
    btnClose->setObjectName(QStringLiteral("btnLock"));
    for (QPushButton *b : {btnScan, btnOpen, btnClose}) {
        b->setMinimumSize(90, 90);
        buttonRow->addWidget(b);
    }
    buttonRow->addWidget(separator(QFrame::HLine));
    top->addLayout(buttonRow);

    top->addLayout(buildIconRow());
    top->setAlignment(top->itemAt(1)->layout(), Qt::AlignHCenter);

    auto *info = new QVBoxLayout;
    for (int i = 0; i < 4; ++i) {
        details[i] = new QLabel;
        details[i]->setObjectName(QStringLiteral("lblDetail%1").arg(i));
    }
    details[3]->setPalette(textPalette(QColor(255, 255, 255)));
    details[3]->setAlignment(Qt::AlignRight);
    bar = new pBar;
    bar->setObjectName(QStringLiteral("pbar"));
    statusLabel = new QLabel(QStringLiteral("READY"));
    statusLabel->setObjectName(QStringLiteral("lblStatus"));
    statusLabel->setAlignment(Qt::AlignHCenter);
    statusLabel->setPalette(textPalette(QColor(0, 255, 0)));

    info->addWidget(separator(QFrame::HLine));
    info->addWidget(details[3]);
    info->addWidget(separator(QFrame::HLine));
    info->addWidget(bar);
    info->addWidget(details[2]);
    info->addWidget(details[1]);
    info->addWidget(separator(QFrame::HLine));
    info->addWidget(details[0]);
    info->addWidget(separator(QFrame::HLine));
    info->addWidget(statusLabel);
    info->addWidget(separator(QFrame::HLine));
    top->addLayout(info);

    connect(btnScan, &QPushButton::clicked, this, &KeyWindow::requestScanTag);
    connect(btnOpen, &QPushButton::clicked, this, &KeyWindow::requestOpen);
    connect(btnClose, &QPushButton::clicked, this, &KeyWindow::requestClose);
    connect(btnManual, &QPushButton::clicked, this, &KeyWindow::requestTransfer);
}

QLayout *KeyWindow::buildIconRow()
{
    auto makeArrow = [](const char *name, const QPixmap &pixmap, Qt::Alignment align) {
        auto *label = new QLabel;
        label->setObjectName(QLatin1String(name));
        label->setPixmap(pixmap);
        label->setAlignment(align);
        return label;
    };
    auto makeColumn = [](const QPixmap &icon, QLabel *in, QLabel *out) {
        auto *column = new QVBoxLayout;
        auto *iconLabel = new QLabel;
        iconLabel->setPixmap(icon);
        column->addWidget(iconLabel);
        auto *pair = new QHBoxLayout;
        pair->addWidget(in);
        pair->addWidget(out);
        column->addLayout(pair);
        return column;
    };

    arrowSrvIn = makeArrow("arrowSrvIn", idleDown, Qt::AlignRight);
    arrowSrvOut = makeArrow("arrowSrvOut", idleUp, Qt::AlignLeft);
    arrowUsbIn = makeArrow("arrowUsbIn", idleDown, Qt::AlignRight);
    arrowUsbOut = makeArrow("arrowUsbOut", idleUp, Qt::AlignLeft);

    auto *row = new QHBoxLayout;
    row->addLayout(makeColumn(serverIcon, arrowSrvIn, arrowSrvOut));
    row->addWidget(separator(QFrame::VLine));
    row->addLayout(makeColumn(usbIcon, arrowUsbIn, arrowUsbOut));
    row->addWidget(separator(QFrame::VLine));

    lockCounter = new QLabel;
    lockCounter->setObjectName(QStringLiteral("lblLockCount"));
    row->addWidget(lockCounter);

    manualLine = separator(QFrame::VLine);
    manualLine->setObjectName(QStringLiteral("lineManual"));
    manualLine->hide();
    row->addWidget(manualLine);

    btnManual = new QPushButton;
    btnManual->setObjectName(QStringLiteral("btnManual"));
    btnManual->setFlat(true);
    btnManual->setMinimumSize(30, 30);
    btnManual->setIcon(QIcon(handPath));
    btnManual->setIconSize(QSize(30, 30));
    btnManual->hide();
    row->addWidget(btnManual);
    row->addWidget(separator(QFrame::VLine));

    auto *batteryColumn = new QVBoxLayout;
    batteryImage = new QLabel;
    batteryImage->setObjectName(QStringLiteral("lblBattery"));
    batteryText = new QLabel;
    batteryText->setObjectName(QStringLiteral("lblBatteryText"));
    batteryText->setPalette(textPalette(QColor(0, 255, 0)));
    batteryColumn->addWidget(batteryImage);
    batteryColumn->addWidget(batteryText);
    row->addLayout(batteryColumn);
    return row;
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
    bar->setPercent(0);
    details[2]->clear();
    details[1]->clear();
    details[0]->clear();
    statusLabel->setText(QStringLiteral("READY"));
    setTransCount(0);
}

std::optional<QColor> KeyWindow::colorForWord(const QString &text, Target target)
{
    if (text.contains(QLatin1String("green")))
        return QColor(0, 255, 0);
    if (text.contains(QLatin1String("red"))) {
        // The status line never turns red; the search still stops at this word.
        if (target == Target::Status)
            return std::nullopt;
        return QColor(255, 0, 0);
    }
    if (text.contains(QLatin1String("orange")))
        return QColor(255, 102, 0);
    if (text.contains(QLatin1String("turkois")))
        return QColor(0, 191, 255);
    if (target == Target::Status && text.contains(QLatin1String("yellow")))
        return QColor(255, 255, 0);
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
    statusLabel->setText(str);
}

void KeyWindow::updateStatusColor(QString str)
{
    if (const auto color = colorForWord(str, Target::Status))
        statusLabel->setPalette(textPalette(*color));
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
        bar->setPercent(0);
        return;
    }
    bar->show();
    bar->setPercent(value);
}

void KeyWindow::updatePbarColor(int color)
{
    bar->setColorCode(color);
}

void KeyWindow::setBtnEnabled(bool val)
{
    btnScan->setEnabled(val);
    btnOpen->setEnabled(val);
    btnClose->setEnabled(val);
}

void KeyWindow::setBattery(int val)
{
    batteryImage->setPixmap(battery[batteryLevel(val)]);
    batteryText->setText(QStringLiteral("%1 %").arg(val));
}

void KeyWindow::setManual(bool val)
{
    btnManual->setVisible(val);
    manualLine->setVisible(val);
}

void KeyWindow::setTransCount(int val)
{
    if (lockImage.isNull()) {
        lockCounter->setPixmap(QPixmap());
        return;
    }
    QImage image = lockImage.scaled(50, 40, Qt::KeepAspectRatio, Qt::FastTransformation)
                           .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&image);
        painter.setPen(Qt::black);
        painter.setFont(QFont(QStringLiteral("Arial"), 10));
        QRect rect = image.rect();
        rect.setBottom(rect.bottom() + 10);
        painter.drawText(rect, Qt::AlignCenter, QString::number(val));
    }
    lockCounter->setPixmap(QPixmap::fromImage(image));
}

void KeyWindow::TransferBusy(int i)
{
    switch (i) {
    case 0:
        setArrow(arrowUsbOut, litUp);
        break;
    case 1:
        setArrow(arrowUsbIn, litDown);
        break;
    case 2:
        setArrow(arrowSrvOut, litUp);
        break;
    case 3:
        setArrow(arrowSrvIn, litDown);
        break;
    case 4:
        setArrow(arrowUsbOut, idleUp);
        return;
    case 5:
        setArrow(arrowUsbIn, idleDown);
        return;
    case 6:
        setArrow(arrowSrvOut, idleUp);
        return;
    case 7:
        setArrow(arrowSrvIn, idleDown);
        return;
    default:
        return;
    }
    worker->light(i);
}

void KeyWindow::setArrow(QLabel *label, const QPixmap &pixmap)
{
    label->setPixmap(pixmap);
}
