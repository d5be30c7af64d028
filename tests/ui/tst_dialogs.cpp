#include "confirmgui.h"
#include "exam_schedule.h"
#include "examcentregui.h"
#include "login.h"
#include "timetable.h"
#include "timetablegui.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

template<class T>
T *child(QWidget *w, const char *name)
{
    T *c = w->findChild<T *>(QLatin1String(name));
    if (!c)
        qFatal("no child %s", name);
    return c;
}

QStringList items(QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

} // namespace

class LoginTest : public QObject
{
    Q_OBJECT
private slots:
    void formAndHeading()
    {
        login dlg(nullptr, QStringLiteral("A:1"));
        QCOMPARE(dlg.objectName(), QStringLiteral("login"));
        QCOMPARE(dlg.size(), QSize(320, 150));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Login"));
        QCOMPARE(child<QLabel>(&dlg, "label_3")->text(),
                 QStringLiteral("Enter login details for: A:1"));
        QVERIFY(child<QLabel>(&dlg, "label_3")->font().bold());
        QCOMPARE(child<QLineEdit>(&dlg, "tbxPass")->echoMode(), QLineEdit::Password);
        QCOMPARE(child<QLineEdit>(&dlg, "tbxUser")->echoMode(), QLineEdit::Normal);
    }

    void nextEmitsAsTyped()
    {
        login dlg(nullptr, QString());
        dlg.show();
        QSignalSpy spy(&dlg, &login::loginnext);
        QTest::keyClicks(child<QLineEdit>(&dlg, "tbxUser"), QStringLiteral(" op1 "));
        QTest::keyClicks(child<QLineEdit>(&dlg, "tbxPass"), QStringLiteral("s3cret"));
        QTest::mouseClick(child<QPushButton>(&dlg, "btnLoginNext"), Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral(" op1 "));
        QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("s3cret"));
        QVERIFY(!dlg.isVisible());
    }

    void nextWithEmptyFields()
    {
        login dlg(nullptr, QString());
        dlg.show();
        QSignalSpy spy(&dlg, &login::loginnext);
        dlg.nextbtn();
        QCOMPARE(spy.count(), 1);
        QVERIFY(spy.at(0).at(0).toString().isEmpty() && spy.at(0).at(1).toString().isEmpty());
        QVERIFY(!dlg.isVisible());
    }

    void cancelAndCloseEmitNothing()
    {
        login dlg(nullptr, QString());
        QSignalSpy spy(&dlg, &login::loginnext);
        dlg.show();
        QTest::mouseClick(child<QPushButton>(&dlg, "btnLoginCancel"), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        dlg.show();
        dlg.close();
        QCOMPARE(spy.count(), 0);
    }
};

class TimeTableTest : public QObject
{
    Q_OBJECT

    std::vector<std::unique_ptr<Timetable>> records;
    // One a day from 1 January 2026, 09:00 to 12:00 UTC; the third from 22:00 to 01:00.
    QList<Timetable *> make(const QStringList &subjects)
    {
        QList<Timetable *> list;
        const qint32 day = 24 * 3600;
        for (const QString &s : subjects) {
            records.push_back(std::make_unique<Timetable>());
            records.back()->subject = s;
            const qint32 start
                    = 1767258000 + int(list.size()) * day + (list.size() == 2 ? 13 * 3600 : 0);
            records.back()->startTime = start;
            records.back()->endTime = start + 3 * 3600;
            list << records.back().get();
        }
        return list;
    }

private slots:
    void cleanup() { records.clear(); }

    void itemsInOrderAndChoice()
    {
        const auto list = make({"Maths", "Physics", "Art"});
        TimeTableGui dlg(list);
        QCOMPARE(dlg.size(), QSize(320, 120));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Time Table"));
        auto *box = child<QComboBox>(&dlg, "cbxTimeTables");
        // Date and time beside each subject, the end's date when it is another day.
        QCOMPARE(items(box),
                 QStringList({QString::fromUtf8("Maths \u2014 Thu 1 Jan 2026, 09:00\u201312:00"),
                              QString::fromUtf8("Physics \u2014 Fri 2 Jan 2026, 09:00\u201312:00"),
                              QString::fromUtf8("Art \u2014 Sat 3 Jan 2026, 22:00\u2013"
                                                "Sun 4 Jan 2026, 01:00")}));
        QCOMPARE(box->currentIndex(), 0);

        dlg.show();
        QSignalSpy spy(&dlg, &TimeTableGui::TTnext);
        box->setCurrentIndex(1);
        QTest::mouseClick(child<QPushButton>(&dlg, "btnTTNext"), Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<Timetable *>(), list.at(1));
        QVERIFY(!dlg.isVisible());
    }

    void duplicatesYieldTheirOwnRecord()
    {
        const auto list = make({"Art", "Art"});
        TimeTableGui dlg(list);
        QSignalSpy spy(&dlg, &TimeTableGui::TTnext);
        child<QComboBox>(&dlg, "cbxTimeTables")->setCurrentIndex(1);
        dlg.nextbtn();
        child<QComboBox>(&dlg, "cbxTimeTables")->setCurrentIndex(0);
        dlg.nextbtn();
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).value<Timetable *>(), list.at(1));
        QCOMPARE(spy.at(1).at(0).value<Timetable *>(), list.at(0));
    }

    void emptyListNextDoesNothing()
    {
        TimeTableGui dlg({});
        dlg.show();
        QSignalSpy spy(&dlg, &TimeTableGui::TTnext);
        QTest::mouseClick(child<QPushButton>(&dlg, "btnTTNext"), Qt::LeftButton);
        QCOMPARE(spy.count(), 0);
        QVERIFY(dlg.isVisible());
    }

    void cancelEmitsNothing()
    {
        const auto list = make({"Maths"});
        TimeTableGui dlg(list);
        dlg.show();
        QSignalSpy spy(&dlg, &TimeTableGui::TTnext);
        QTest::mouseClick(child<QPushButton>(&dlg, "btnTTCancel"), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(spy.count(), 0);
    }
};

// Counts the "no centre chosen" warnings instead of showing a modal box.
class CountingCentreGui : public ExamCentreGui
{
public:
    using ExamCentreGui::ExamCentreGui;
    int warnings = 0;

protected:
    void warnNoCentre() override { ++warnings; }
};

class ExamCentreTest : public QObject
{
    Q_OBJECT

    std::vector<std::unique_ptr<ExamSchedule>> records;
    Timetable timetable;
    QList<ExamSchedule *> make(const QList<QPair<QString, QString>> &centres)
    {
        QList<ExamSchedule *> list;
        for (const auto &c : centres) {
            records.push_back(std::make_unique<ExamSchedule>());
            records.back()->centerName = c.first;
            records.back()->centerAbbreviation = c.second;
            list << records.back().get();
        }
        return list;
    }
    QList<ExamSchedule *> sample()
    {
        return make({{"North Hall", "NH"},
                     {"Westside School", "WSS"},
                     {"Central", "NORC"},
                     {"East Academy", "EA"}});
    }

private slots:
    void init()
    {
        timetable.subject = QStringLiteral("Maths");
        timetable.startTime = 1700000000;
        timetable.endTime = 1700003600;
    }
    void cleanup() { records.clear(); }

    void formShowsTimetable()
    {
        CountingCentreGui dlg(sample(), &timetable);
        QCOMPARE(dlg.size(), QSize(320, 270));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Exam Center"));
        QCOMPARE(child<QLabel>(&dlg, "lblSub")->text(), QStringLiteral("Maths"));
        const QDateTime start
                = QDateTime::fromString(child<QLabel>(&dlg, "lblStart")->text(), Qt::TextDate);
        QCOMPARE(start.toSecsSinceEpoch(), qint64(1700000000));
        QCOMPARE(child<QLabel>(&dlg, "label_3")->text(), QStringLiteral("End Time"));
        auto *box = child<QComboBox>(&dlg, "cbxCenter");
        QCOMPARE(items(box),
                 QStringList({"North Hall", "Westside School", "Central", "East Academy"}));
        QCOMPARE(box->currentIndex(), 0);
    }

    void filterByNameThenAbbreviation()
    {
        CountingCentreGui dlg(sample(), &timetable);
        dlg.show();
        auto *box = child<QComboBox>(&dlg, "cbxCenter");
        QTest::keyClicks(child<QLineEdit>(&dlg, "tbxFilter"), QStringLiteral("nor"));
        QCOMPARE(items(box), QStringList({"North Hall", "Central"}));
        QCOMPARE(box->currentText(), QStringLiteral("North Hall"));

        dlg.filter(QStringLiteral("ea"));
        QCOMPARE(items(box), QStringList({"East Academy"})); // abbreviations show by name
        dlg.filter(QStringLiteral("wSs"));
        QCOMPARE(items(box), QStringList({"Westside School"}));

        child<QLineEdit>(&dlg, "tbxFilter")->clear();
        QCOMPARE(items(box),
                 QStringList({"North Hall", "Westside School", "Central", "East Academy"}));
        QCOMPARE(box->currentIndex(), 0);

        // Narrowing as the filter grows, widening again as it shrinks.
        auto *filter = child<QLineEdit>(&dlg, "tbxFilter");
        QTest::keyClicks(filter, QStringLiteral("e"));
        QCOMPARE(items(box), QStringList({"Westside School", "Central", "East Academy"}));
        QTest::keyClicks(filter, QStringLiteral("a"));
        QCOMPARE(items(box), QStringList({"East Academy"}));
        QTest::keyClick(filter, Qt::Key_Backspace);
        QCOMPARE(items(box), QStringList({"Westside School", "Central", "East Academy"}));
        // A line break never joins a name to its abbreviation.
        dlg.filter(QStringLiteral("l\nn"));
        QCOMPARE(box->count(), 0);
    }

    void noMatchWarnsAndStaysOpen()
    {
        CountingCentreGui dlg(sample(), &timetable);
        dlg.show();
        QSignalSpy next(&dlg, &ExamCentreGui::CenterNext);
        dlg.filter(QStringLiteral("zzz"));
        QCOMPARE(child<QComboBox>(&dlg, "cbxCenter")->count(), 0);
        QTest::mouseClick(child<QPushButton>(&dlg, "btnCenterNext"), Qt::LeftButton);
        QCOMPARE(dlg.warnings, 1);
        QCOMPARE(next.count(), 0);
        QVERIFY(dlg.isVisible());

        // The operator can correct the filter and go on.
        dlg.filter(QStringLiteral("central"));
        dlg.nextbtn();
        QCOMPARE(next.count(), 1);
        QCOMPARE(next.at(0).at(0).value<ExamSchedule *>(), records.at(2).get());
        QVERIFY(!dlg.isVisible());
    }

    void emptyListWarns()
    {
        CountingCentreGui dlg({}, &timetable);
        QSignalSpy next(&dlg, &ExamCentreGui::CenterNext);
        dlg.nextbtn();
        QCOMPARE(dlg.warnings, 1);
        QCOMPARE(next.count(), 0);
    }

    void duplicateNamesYieldTheChosenOne()
    {
        const auto list = make({{"Same", "S1"}, {"Other", "O"}, {"Same", "S2"}});
        CountingCentreGui dlg(list, &timetable);
        QSignalSpy next(&dlg, &ExamCentreGui::CenterNext);
        child<QComboBox>(&dlg, "cbxCenter")->setCurrentIndex(2);
        dlg.nextbtn();
        dlg.filter(QStringLiteral("s2")); // only the second "Same" matches
        dlg.nextbtn();
        QCOMPARE(next.count(), 2);
        QCOMPARE(next.at(0).at(0).value<ExamSchedule *>(), list.at(2));
        QCOMPARE(next.at(1).at(0).value<ExamSchedule *>(), list.at(2));
    }

    void backAndCancel()
    {
        CountingCentreGui dlg(sample(), &timetable);
        QSignalSpy back(&dlg, &ExamCentreGui::CenterBack);
        QSignalSpy next(&dlg, &ExamCentreGui::CenterNext);
        dlg.show();
        QTest::mouseClick(child<QPushButton>(&dlg, "btnCenterBack"), Qt::LeftButton);
        QCOMPARE(back.count(), 1);
        QVERIFY(!dlg.isVisible());
        dlg.show();
        QTest::mouseClick(child<QPushButton>(&dlg, "btnCenterCancel"), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(back.count(), 1);
        QCOMPARE(next.count(), 0);
    }

    void realWarningBox()
    {
        ExamCentreGui dlg({}, nullptr);
        QString title, text;
        QTimer::singleShot(0, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                text = box->text();
                box->accept();
            }
        });
        dlg.nextbtn();
        QCOMPARE(title, QStringLiteral("Error"));
        QCOMPARE(text, QStringLiteral("You must choose a school."));
    }
};

class ConfirmTest : public QObject
{
    Q_OBJECT

    static QString letters(int n, char first = 'a')
    {
        QString s;
        for (int i = 0; i < n; ++i)
            s += QLatin1Char(char(first + i % 26));
        return s;
    }

private slots:
    void labelsExactlyAsPassed()
    {
        ConfirmGui dlg(QStringLiteral(" Maths "), QString(), QStringLiteral("Lock <b>7</b>"));
        QCOMPARE(dlg.size(), QSize(320, 260));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Confirm Details"));
        QCOMPARE(child<QLabel>(&dlg, "lblSub")->text(), QStringLiteral(" Maths "));
        QCOMPARE(child<QLabel>(&dlg, "lblCenter")->text(), QString());
        QCOMPARE(child<QLabel>(&dlg, "lblLockDesc")->text(), QStringLiteral("Lock <b>7</b>"));
        QCOMPARE(dlg.commentLimit(), 256);
    }

    void typingStopsAt256()
    {
        ConfirmGui dlg {QString(), QString(), QString()};
        auto *edit = child<QPlainTextEdit>(&dlg, "plainTextEdit");
        dlg.show();
        edit->insertPlainText(letters(256));
        QCOMPARE(edit->toPlainText().size(), 256);
        QTest::keyClicks(edit, QStringLiteral("Z"));
        QCOMPARE(edit->toPlainText(), letters(256));
    }

    void pasteIntoEmptyKeepsItsStart_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("kept");
        const QString emoji = QString::fromUtf8("\xF0\x9F\x94\x92"); // two units each
        const QString accented = QString::fromUtf8("e\xCC\x81"); // letter + combining accent
        QTest::newRow("letters") << letters(300) << letters(256);
        QTest::newRow("300 emoji") << emoji.repeated(300) << emoji.repeated(128);
        QTest::newRow("accented letters") << accented.repeated(200) << accented.repeated(128);
        QTest::newRow("pair across the limit") << QString(255, QLatin1Char('x')) + emoji.repeated(2)
                                               << QString(255, QLatin1Char('x'));
    }

    // The first 256 UTF-16 units stay, never half of a surrogate pair.
    void pasteIntoEmptyKeepsItsStart()
    {
        QFETCH(QString, pasted);
        QFETCH(QString, kept);
        ConfirmGui dlg {QString(), QString(), QString()};
        auto *edit = child<QPlainTextEdit>(&dlg, "plainTextEdit");
        edit->insertPlainText(pasted);
        QCOMPARE(edit->toPlainText(), kept);
    }

    void pasteInTheMiddleLosesItsEnd()
    {
        ConfirmGui dlg {QString(), QString(), QString()};
        auto *edit = child<QPlainTextEdit>(&dlg, "plainTextEdit");
        const QString base = QString(249, QLatin1Char('x')) + QLatin1Char('$');
        edit->setPlainText(base);
        QTextCursor c = edit->textCursor();
        c.setPosition(249);
        edit->setTextCursor(c);
        edit->insertPlainText(QStringLiteral("0123456789"));
        QCOMPARE(edit->toPlainText(),
                 QString(249, QLatin1Char('x')) + QStringLiteral("012345") + QLatin1Char('$'));
    }

    void overlongWithCursorAtStart()
    {
        ConfirmGui dlg {QString(), QString(), QString()};
        auto *edit = child<QPlainTextEdit>(&dlg, "plainTextEdit");
        edit->setPlainText(letters(400));
        QTextCursor c = edit->textCursor();
        c.setPosition(0);
        edit->setTextCursor(c);
        edit->insertPlainText(QString()); // no-op edit
        QVERIFY(edit->toPlainText().size() <= 256);
        QVERIFY(edit->toPlainText().size() > 0);
        // A paste at the very start: something gives way, never beyond the limit.
        edit->document()->setPlainText(QString(250, QLatin1Char('y')));
        c = QTextCursor(edit->document());
        c.setPosition(0);
        c.insertText(QString(20, QLatin1Char('z')));
        QVERIFY(edit->toPlainText().size() <= 256);
    }

    void surrogatePairsDoNotOverflow()
    {
        ConfirmGui dlg {QString(), QString(), QString()};
        auto *edit = child<QPlainTextEdit>(&dlg, "plainTextEdit");
        edit->insertPlainText(letters(255));
        edit->insertPlainText(QString::fromUtf8("\xF0\x9F\x94\x92")); // two UTF-16 units
        const QString text = edit->toPlainText();
        QVERIFY(text.size() <= 256);
        QVERIFY(text.isEmpty() || !text.back().isHighSurrogate());
        QCOMPARE(text.left(255), letters(255));
    }

    void buttons()
    {
        ConfirmGui dlg {QString(), QString(), QString()};
        QSignalSpy finish(&dlg, &ConfirmGui::ConfirmFinish);
        QSignalSpy back(&dlg, &ConfirmGui::ConfirmBack);
        dlg.show();
        QTest::mouseClick(child<QPushButton>(&dlg, "btnFinish"), Qt::LeftButton);
        QCOMPARE(finish.count(), 1);
        QCOMPARE(finish.at(0).at(0).toString(), QString());
        QVERIFY(!dlg.isVisible());

        child<QPlainTextEdit>(&dlg, "plainTextEdit")->setPlainText(QStringLiteral("two\nlines"));
        dlg.show();
        dlg.finishbtn();
        QCOMPARE(finish.at(1).at(0).toString(), QStringLiteral("two\nlines"));

        dlg.show();
        QTest::mouseClick(child<QPushButton>(&dlg, "btnBack"), Qt::LeftButton);
        QCOMPARE(back.count(), 1);
        QVERIFY(!dlg.isVisible());
        dlg.show();
        QTest::mouseClick(child<QPushButton>(&dlg, "btnCancel"), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(finish.count(), 2);
        QCOMPARE(back.count(), 1);
    }
};

int main(int argc, char **argv)
{
    // Fixed zone and language for the timetable items.
    qputenv("TZ", "UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    QApplication app(argc, argv);
    qRegisterMetaType<Timetable *>();
    qRegisterMetaType<ExamSchedule *>();
    int status = 0;
    LoginTest loginTest;
    status |= QTest::qExec(&loginTest, argc, argv);
    TimeTableTest timeTable;
    status |= QTest::qExec(&timeTable, argc, argv);
    ExamCentreTest examCentre;
    status |= QTest::qExec(&examCentre, argc, argv);
    ConfirmTest confirm;
    status |= QTest::qExec(&confirm, argc, argv);
    return status;
}

#include "tst_dialogs.moc"
