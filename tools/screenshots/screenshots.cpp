// Renders the program's views to PNG files, for the README and for review.
//   bw_screenshots [output-folder] [image-folder]
// Three sets, each in a folder of its own: "default" (a desktop's default font,
// 9 points), "font-144dpi" (fonts at 144 dpi: large text without scaling) and
// "scale-2" (everything twice as large, as on a 200 % screen). Both settings are
// read once at start, so each set is drawn by a child run of this program:
//   bw_screenshots --set output-folder image-folder
// Runs on the offscreen platform; no key, linker or network is involved: the
// dashboard is driven through the same slots the linker calls.

#include "confirmgui.h"
#include "exam_schedule.h"
#include "examcentregui.h"
#include "image_folder.h"
#include "keywindow.h"
#include "login.h"
#include "mainwindow.h"
#include "seals_today.h"
#include "timetable.h"
#include "timetablegui.h"
#include "waiting_look.h"
#include "waitwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTextStream>

#include <memory>
#include <vector>

namespace {

int failures = 0;

void save(QWidget *w, const QString &dir, const char *name)
{
    w->show();
    QApplication::processEvents();
    const QString path = QDir(dir).filePath(QLatin1String(name));
    if (!w->grab().save(path, "PNG")) {
        QTextStream(stderr) << "cannot write " << path << '\n';
        ++failures;
    }
}

// A dashboard as a connected key leaves it before each state is applied, with
// the workflow logged in.
void connectedKey(KeyWindow *k)
{
    k->updateLabel(3, QStringLiteral("0A1B2C3D"));
    k->updateLabel(2, QStringLiteral("Box: EXAM-0042"));
    k->updateLabel(1, QStringLiteral("Lock: 3141592653"));
    k->updateLabel(0, QStringLiteral("Key ready"));
    // Lines 0 to 2 have no colour until the key sends one.
    k->updateLabelColor(2, QStringLiteral("turkois"));
    k->updateLabelColor(1, QStringLiteral("turkois"));
    k->updateLabelColor(0, QStringLiteral("green"));
    k->setBattery(85);
    k->setTransCount(17);
    Timetable timetable;
    timetable.subject = QStringLiteral("Mathematics P1");
    timetable.startTime = 1767250800;
    timetable.endTime = 1767261600;
    k->setSessionText(QStringLiteral("Logged in as packer1\nTimetable: ")
                      + TimeTableGui::describe(&timetable));
}

// The idle and manual-mode dashboards; with `everyState`, also unlocking, a data
// transfer and a low battery.
void dashboards(MainWindow &w, const QString &out, bool everyState)
{
    KeyWindow *k = w.dashboard();
    w.setLayout(MainWindow::Dashboard);
    connectedKey(k);
    save(&w, out, "dashboard-idle.png");

    w.setLayout(MainWindow::Dashboard);
    connectedKey(k);
    k->setManual(true);
    k->updateLabel(0, QStringLiteral("Manual mode"));
    k->updateLabelColor(0, QStringLiteral("orange"));
    save(&w, out, "dashboard-manual.png");
    if (!everyState)
        return;

    w.setLayout(MainWindow::Dashboard);
    connectedKey(k);
    k->setBtnEnabled(false);
    k->updateStatus(QStringLiteral("Unlocking..."));
    k->updateStatusColor(QStringLiteral("orange"));
    k->updatePbarColor(1);
    k->updatePbar(40);
    save(&w, out, "dashboard-unlocking.png");

    w.setLayout(MainWindow::Dashboard);
    connectedKey(k);
    k->updateStatus(QStringLiteral("Data transfer"));
    k->updateStatusColor(QStringLiteral("turkois"));
    for (int channel = 0; channel < 4; ++channel)
        k->TransferBusy(channel);
    save(&w, out, "dashboard-transfer.png");
    for (int channel = 4; channel < 8; ++channel)
        k->TransferBusy(channel);

    w.setLayout(MainWindow::Dashboard);
    connectedKey(k);
    k->setBattery(12);
    k->updateLabel(0, QStringLiteral("Battery low, please charge"));
    k->updateLabelColor(0, QStringLiteral("red"));
    k->updateStatusColor(QStringLiteral("yellow"));
    save(&w, out, "dashboard-low-battery.png");
}

void dialogs(const QString &out)
{
    login loginDialog(nullptr, QStringLiteral("service.example:8080"));
    loginDialog.findChild<QLineEdit *>(QStringLiteral("tbxUser"))
            ->setText(QStringLiteral("packer1"));
    loginDialog.findChild<QLineEdit *>(QStringLiteral("tbxPass"))
            ->setText(QStringLiteral("secret"));
    save(&loginDialog, out, "dialog-login.png");
    showWaiting(&loginDialog, QStringLiteral("Logging in to service.example:8080\u2026"));
    save(&loginDialog, out, "dialog-login-waiting.png");

    std::vector<std::unique_ptr<Timetable>> tables;
    for (const char *subject : {"Mathematics P1", "Physics P2", "Art and Design"}) {
        tables.push_back(std::make_unique<Timetable>());
        tables.back()->subject = QLatin1String(subject);
        tables.back()->startTime = 1767250800;
        tables.back()->endTime = 1767261600;
    }
    TimeTableGui tableDialog({tables[0].get(), tables[1].get(), tables[2].get()});
    save(&tableDialog, out, "dialog-timetable.png");

    std::vector<std::unique_ptr<ExamSchedule>> centres;
    QList<ExamSchedule *> centreList;
    const char *const names[][2]
            = {{"North Hall", "NH"}, {"Central College", "NORC"}, {"Westside School", "WSS"}};
    for (const auto &n : names) {
        centres.push_back(std::make_unique<ExamSchedule>());
        centres.back()->centerName = QLatin1String(n[0]);
        centres.back()->centerAbbreviation = QLatin1String(n[1]);
        centreList << centres.back().get();
    }
    ExamCentreGui centreDialog(centreList, tables[0].get());
    centreDialog.findChild<QLineEdit *>(QStringLiteral("tbxFilter"))
            ->setText(QStringLiteral("nor"));
    save(&centreDialog, out, "dialog-exam-centre.png");

    ConfirmGui confirm(QStringLiteral("Mathematics P1"), QStringLiteral("North Hall"),
                       QStringLiteral("Lock 3141592653 (blue crate)"));
    confirm.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"))
            ->setPlainText(QStringLiteral("Sealed in the presence of two invigilators."));
    save(&confirm, out, "dialog-confirm.png");

    PackingLog::DayLines today;
    for (const char *line :
         {"2026-12-08 11:42:17    CenterName:North Hall    Subject:Mathematics P1    "
          "LockId:L23    ScannedRfid:303911",
          "2026-12-08 11:39:05    CenterName:Central College    Subject:Mathematics P1    "
          "LockId:L12    ScannedRfid:303907",
          "2026-12-08 11:31:48    CenterName:North Hall    Subject:Mathematics P1    "
          "LockId:L7    ScannedRfid:303903"})
        today.lines << QLatin1String(line);
    SealsTodayDialog seals(QStringLiteral("/home/packer1/.config/Varnex/Packlog.txt"), today);
    save(&seals, out, "dialog-seals-today.png");
}

// Draws one set with the settings this process started with.
int drawSet(int argc, char **argv, const QString &out, const QString &images)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 always uses the "@2x" pictures; the attribute is deprecated there.
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
    QApplication app(argc, argv);
    // The offscreen platform's own default is 12 points; a desktop's is 9.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 9));
    QDir().mkpath(out);

    MainWindow w(images);
    save(&w, out, "waiting.png");
    // Every dashboard state in the default set; the others show how the look scales.
    dashboards(w, out,
               qEnvironmentVariableIsEmpty("QT_FONT_DPI")
                       && qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"));
    dialogs(out);
    return failures == 0 ? 0 : 1;
}

// Draws every set, each by a child run with its setting in the environment.
int drawAll(int argc, char **argv, const QString &out, const QString &images)
{
    QCoreApplication app(argc, argv);
    const char *const sets[][3] = {{"default", nullptr, nullptr},
                                   {"font-144dpi", "QT_FONT_DPI", "144"},
                                   {"scale-2", "QT_SCALE_FACTOR", "2"}};
    int status = 0;
    for (const auto &set : sets) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_FONT_DPI"));
        env.remove(QStringLiteral("QT_SCALE_FACTOR"));
        if (set[1])
            env.insert(QLatin1String(set[1]), QLatin1String(set[2]));
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--set"), QDir(out).filePath(QLatin1String(set[0])), images});
        if (!child.waitForFinished(120000) || child.exitStatus() != QProcess::NormalExit
            || child.exitCode() != 0) {
            QTextStream(stderr) << "set " << set[0] << " failed\n";
            status = 1;
        }
    }
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 4 && QByteArray(argv[1]) == "--set")
        return drawSet(argc, argv, QString::fromLocal8Bit(argv[2]),
                       QString::fromLocal8Bit(argv[3]));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QString images = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (images.isEmpty()) {
        QCoreApplication probe(argc, argv);
        images = imageFolder();
    }
    return drawAll(argc, argv, out, QFileInfo(images).absoluteFilePath());
}
