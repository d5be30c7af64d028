#pragma once

#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QThread;
class ArrWorker;

namespace Ui {
class KeyWindow;
}

// The dashboard of a connected key. It keeps no key state: its slots show what the
// linker sends, its buttons only emit the request signals (wired in app/).
class KeyWindow : public QWidget
{
    Q_OBJECT
public:
    // `imageDir` holds the dashboard's PNG files; a missing file gives an empty picture.
    explicit KeyWindow(const QString &imageDir, QWidget *parent = nullptr);
    ~KeyWindow() override;

    // Back to the idle look; colours, battery and arrows are left as they are.
    void resetView();
    // Keyboard focus on "Scan Tag", as when the dashboard first shows.
    void focusFirstButton();

    enum class Target { Detail, Status };
    // Colour chosen by the first colour word found in `text`, if any.
    static std::optional<QColor> colorForWord(const QString &text, Target target);
    // Battery picture 0 (below 20) to 4 (80 and above).
    static int batteryLevel(int val);
    // The battery text's colour, that of the picture at `level`.
    static QColor batteryColor(int level);

    const ArrWorker *arrowWorker() const { return worker.get(); }

    // The packing workflow's line under the status: who is logged in and the
    // timetable in use (`text`; none when empty). While the workflow waits for
    // the service with no dialog open, the line says what it waits for instead
    // and the dashboard shows a busy cursor; an empty `text` ends that.
    void setSessionText(const QString &text);
    void setWorkflowWait(const QString &text);

signals:
    void requestScanTag();
    void requestOpen();
    void requestClose();
    void requestTransfer();

public slots:
    void setReqBtn(bool enable);
    void updateLabel(uint Type, QString str);
    void updateStatus(QString str);
    void updateStatusColor(QString str);
    void updateLabelColor(uint Type, QString str);
    void updatePbar(int value);
    void updatePbarColor(int color);
    void setBtnEnabled(bool val);
    void setBattery(int val);
    void setManual(bool val);
    void setTransCount(int val);
    void TransferBusy(int i);

private:
    void loadImages(const QString &imageDir);
    void setArrow(QLabel *label, const QPixmap &pixmap, bool lit);
    void startAnimation();
    void showSessionLine();

    // Pictures, scaled once.
    QPixmap litUp, idleUp, litDown, idleDown;
    QPixmap usbIcon, serverIcon;
    QImage lockImage;
    QPixmap battery[5];
    QString handPath;

    std::unique_ptr<Ui::KeyWindow> ui;
    QLabel *details[4] = {};
    QString sessionText;
    QString waitText;

    std::unique_ptr<ArrWorker> worker;
    std::unique_ptr<QThread> animationThread;
};
