#include "emulated_key.h"
#include "libusb_device.h"
#include "permission_notice.h"
#include "udev_access.h"
#include "usb_link.h"
#include "waitwindow.h"

#include <QApplication>
#include <QFile>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Root opens any file whatever its mode; without these two capabilities it is
// held to the mode like any user. Per thread: threads started afterwards
// (the USB link's) inherit the reduced set.
class FileModesEnforced
{
public:
    FileModesEnforced()
    {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        if (syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        active_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~FileModesEnforced()
    {
        if (active_)
            syscall(SYS_capset, &header_, saved_);
    }
    bool active() const { return active_; }

private:
    __user_cap_header_struct header_ {};
    __user_cap_data_struct saved_[2] {};
    bool active_ = false;
};

QMutex g_logMutex;
QStringList g_log;
QtMessageHandler g_previous = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    {
        QMutexLocker guard(&g_logMutex);
        g_log << QStringLiteral("%1: %2").arg(QLatin1String(context.category), text);
    }
    if (g_previous)
        g_previous(type, context, text);
}

const QString kMissingHint = QStringLiteral("No access to the key: udev rule %1 missing")
                                     .arg(QLatin1String(kUdevRulesFile));

QStringList deniedLines()
{
    QMutexLocker guard(&g_logMutex);
    QStringList lines;
    for (const QString &line : qAsConst(g_log)) {
        if (line.startsWith(QStringLiteral("usb_link:"))
            && line.contains(QStringLiteral("permission")))
            lines << line;
    }
    return lines;
}

bool setMode(const QString &path, QFile::Permissions mode)
{
    return QFile::setPermissions(path, mode);
}

const QFile::Permissions kOpenToAll = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
        | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;

} // namespace

class TestPermissionHint : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void deniedKeyIsNamedOnceAndConnectsWhenAllowed();
    void hintGoesWithTheKey();
    void reportMadeBeforeWiringStillShows();
    void installedRuleSaysWhatHelps_data();
    void installedRuleSaysWhatHelps();

private:
    QString nodeFile(const EmulatedKey &key) const { return bus_->rootDir() + key.deviceNode(); }
    // Plugs a key whose node nobody may open, and checks that this really holds here.
    bool plugDenied(EmulatedKey &key);

    // A device that looks for the rule in a folder without it.
    std::unique_ptr<LibusbDevice> deviceWithoutRule() const
    {
        return std::make_unique<LibusbDevice>(QStringList {noRules_.path()});
    }

    std::unique_ptr<EmulatedBus> bus_; // one per process
    QTemporaryDir noRules_;
};

void TestPermissionHint::initTestCase()
{
    bus_ = std::make_unique<EmulatedBus>();
    g_previous = qInstallMessageHandler(recordMessage);
}

void TestPermissionHint::cleanupTestCase()
{
    qInstallMessageHandler(g_previous);
    bus_.reset();
}

void TestPermissionHint::init()
{
    QMutexLocker guard(&g_logMutex);
    g_log.clear();
}

bool TestPermissionHint::plugDenied(EmulatedKey &key)
{
    if (!key.plug() || !QFile::exists(nodeFile(key)) || !setMode(nodeFile(key), {}))
        return false;
    const int fd = ::open(key.deviceNode().toLocal8Bit().constData(), O_RDWR);
    const int err = errno;
    if (fd >= 0)
        ::close(fd);
    return fd < 0 && err == EACCES;
}

void TestPermissionHint::deniedKeyIsNamedOnceAndConnectsWhenAllowed()
{
    FileModesEnforced modes;
    EmulatedKey key(*bus_);
    QVERIFY2(plugDenied(key), "the emulated node is still accessible");

    WaitWindow view;
    usbLink link(deviceWithoutRule());
    wirePermissionNotice(&link, &view);
    QSignalSpy connected(&link, &usbLink::usbConnected);
    link.start();

    QTRY_COMPARE_WITH_TIMEOUT(view.hint(), kMissingHint, 5000);
    // Several more searches: still one log line, naming the node and the rule.
    QTest::qWait(2500);
    const QStringList lines = deniedLines();
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].contains(key.deviceNode()), qPrintable(lines[0]));
    QVERIFY2(lines[0].contains(QLatin1String(kUdevRulesFile)), qPrintable(lines[0]));
    QCOMPARE(connected.count(), 0);
    QVERIFY(!link.isConnected());

    // What the rule does once installed: the running program gets in by itself.
    QVERIFY(setMode(nodeFile(key), kOpenToAll));
    QTRY_VERIFY_WITH_TIMEOUT(connected.count() >= 1, 5000);
    QCOMPARE(connected.first().first().toBool(), true);
    QTRY_COMPARE_WITH_TIMEOUT(view.hint(), QString(), 3000);
    QVERIFY(link.isConnected());
    link.stop();
}

void TestPermissionHint::hintGoesWithTheKey()
{
    FileModesEnforced modes;
    EmulatedKey key(*bus_);
    QVERIFY2(plugDenied(key), "the emulated node is still accessible");

    WaitWindow view;
    usbLink link(deviceWithoutRule());
    wirePermissionNotice(&link, &view);
    link.start();
    QTRY_COMPARE_WITH_TIMEOUT(view.hint(), kMissingHint, 5000);

    key.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(view.hint(), QString(), 5000);
    link.stop();
}

void TestPermissionHint::reportMadeBeforeWiringStillShows()
{
    FileModesEnforced modes;
    EmulatedKey key(*bus_);
    QVERIFY2(plugDenied(key), "the emulated node is still accessible");

    // The link starts searching while the window is still being built.
    usbLink link(deviceWithoutRule());
    QSignalSpy reported(&link, &usbLink::permissionProblem);
    link.start();
    QTRY_COMPARE_WITH_TIMEOUT(reported.count(), 1, 5000);

    WaitWindow view;
    wirePermissionNotice(&link, &view);
    QTRY_COMPARE_WITH_TIMEOUT(view.hint(), kMissingHint, 3000);
    link.stop();
}

void TestPermissionHint::installedRuleSaysWhatHelps_data()
{
    QTest::addColumn<bool>("keyGroup"); // the rule has given the key its group
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QString>("advice"); // in the log line

    QTest::newRow("rule not applied to this key yet")
            << false << QStringLiteral("No access to the key: plug it in again")
            << QStringLiteral("plug the key in again");
    QTest::newRow("key's group, user not in it")
            << true << QStringLiteral("No access to the key: join group plugdev")
            << QStringLiteral("Add the user to group plugdev");
}

void TestPermissionHint::installedRuleSaysWhatHelps()
{
    QFETCH(bool, keyGroup);
    QFETCH(QString, hint);
    QFETCH(QString, advice);

    const group *plugdev = getgrnam(kKeyGroup);
    if (keyGroup && !plugdev)
        QSKIP("no group plugdev on this machine");
    FileModesEnforced modes;
    EmulatedKey key(*bus_);
    QVERIFY2(plugDenied(key), "the emulated node is still accessible");
    if (keyGroup && ::chown(qPrintable(nodeFile(key)), uid_t(-1), plugdev->gr_gid) != 0)
        QSKIP("cannot give the emulated node group plugdev here");

    QTemporaryDir rules;
    QFile rule(rules.filePath(QLatin1String(kUdevRulesFile)));
    QVERIFY(rule.open(QIODevice::WriteOnly));
    rule.close();

    WaitWindow view;
    usbLink link(std::make_unique<LibusbDevice>(QStringList {rules.path()}));
    wirePermissionNotice(&link, &view);
    link.start();
    QTRY_COMPARE_WITH_TIMEOUT(view.hint(), hint, 5000);
    const QStringList lines = deniedLines();
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].contains(key.deviceNode()) && lines[0].contains(advice),
             qPrintable(lines[0]));
    link.stop();
}

int main(int argc, char **argv)
{
    if (!EmulatedBus::ensurePreloaded(argc, argv)) {
        std::fprintf(stderr, "cannot run under the umockdev preload\n");
        return 1;
    }
    QApplication app(argc, argv);
    TestPermissionHint t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_permission_hint.moc"
