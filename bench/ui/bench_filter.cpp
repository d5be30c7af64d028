// Keystrokes in the exam centre filter over 20,000 and 200,000 centres, against
// a full scan measured in the same run, interleaved keystroke by keystroke: every
// keystroke compares all centres (upper-cased once) and refills a string list
// model. Reports the mean keystroke, the worst one (the slowest position in the
// typed sequence, as the median of its repeats, so one preemption on a shared
// machine does not count) and the model updates per changed filter.

#include "exam_schedule.h"
#include "examcentregui.h"
#include "timetable.h"

#include <benchmark/benchmark.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QStringListModel>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct Fixture
{
    std::vector<std::unique_ptr<ExamSchedule>> records;
    QList<ExamSchedule *> list;
    Timetable timetable;

    explicit Fixture(int centres)
    {
        const char *const towns[] = {"North", "South", "East", "West", "Central", "Upper", "Lower"};
        const char *const kinds[] = {"School", "Academy", "College", "Hall", "Institute"};
        for (int i = 0; i < centres; ++i) {
            records.push_back(std::make_unique<ExamSchedule>());
            ExamSchedule *c = records.back().get();
            c->centerName = QStringLiteral("%1 %2 %3")
                                    .arg(QLatin1String(towns[i % 7]))
                                    .arg(QLatin1String(kinds[(i / 7) % 5]))
                                    .arg(i, 6, 10, QLatin1Char('0'));
            c->centerAbbreviation = QStringLiteral("C%1").arg(i);
            list << c;
        }
        timetable.subject = QStringLiteral("Mathematics");
    }
};

// What a user types and deletes again.
const QStringList Keystrokes
        = {"s",  "sc", "sch", "scho", "schoo", "school", "schoo", "scho", "sch",
           "sc", "s",  "",    "1",    "12",    "123",    "12",    "1",    ""};

// Every keystroke scans all centres.
class FullScan
{
public:
    explicit FullScan(const QList<ExamSchedule *> &list)
    {
        for (const ExamSchedule *c : list) {
            names << c->centerName;
            upperNames << c->centerName.toUpper();
            upperAbbreviations << c->centerAbbreviation.toUpper();
        }
        box.setModel(&model);
    }
    void filter(const QString &text)
    {
        const QString needle = text.toUpper();
        QStringList shown;
        for (int i = 0; i < names.size(); ++i) {
            if (upperNames.at(i).contains(needle) || upperAbbreviations.at(i).contains(needle))
                shown << names.at(i);
        }
        if (shown != model.stringList())
            model.setStringList(shown);
        box.setCurrentIndex(shown.isEmpty() ? -1 : 0);
    }

private:
    QStringList names, upperNames, upperAbbreviations;
    QStringListModel model;
    QComboBox box;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double msSince(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

void BM_FilterKeystroke(benchmark::State &state)
{
    Fixture f(int(state.range(0)));
    ExamCentreGui dialog(f.list, &f.timetable);
    dialog.show();
    auto *box = dialog.findChild<QComboBox *>(QStringLiteral("cbxCenter"));
    int updates = 0;
    QAbstractItemModel *model = box->model();
    QObject::connect(model, &QAbstractItemModel::modelReset, [&updates] { ++updates; });
    QObject::connect(model, &QAbstractItemModel::layoutChanged, [&updates] { ++updates; });
    QObject::connect(model, &QAbstractItemModel::rowsInserted, [&updates] { ++updates; });
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, [&updates] { ++updates; });
    QObject::connect(model, &QAbstractItemModel::dataChanged, [&updates] { ++updates; });
    FullScan baseline(f.list);

    double total = 0, baselineTotal = 0;
    std::vector<std::vector<double>> byPosition(Keystrokes.size());
    int keystrokes = 0, changes = 0;
    QString previous;
    for (auto _ : state) {
        const QString &key = Keystrokes.at(keystrokes % Keystrokes.size());
        QElapsedTimer t;
        t.start();
        dialog.filter(key);
        const double ms = msSince(t);
        state.SetIterationTime(ms / 1e3);
        total += ms;
        byPosition[keystrokes % Keystrokes.size()].push_back(ms);
        t.restart();
        baseline.filter(key);
        baselineTotal += msSince(t);
        changes += key != previous ? 1 : 0;
        previous = key;
        ++keystrokes;
    }
    double worst = 0;
    for (const auto &repeats : byPosition)
        worst = std::max(worst, median(repeats));
    state.counters["keystroke_ms"] = total / keystrokes;
    state.counters["worst_keystroke_ms"] = worst;
    state.counters["full_scan_ms"] = baselineTotal / keystrokes;
    state.counters["keystroke_per_full_scan"] = total / baselineTotal;
    state.counters["model_updates_per_keystroke"] = double(updates) / changes;
}
BENCHMARK(BM_FilterKeystroke)
        ->Arg(20000)
        ->Arg(200000)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(90);

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
