#include "emulated_key.h"

#include <umockdev.h>

#include <QByteArray>
#include <QDir>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {
constexpr const char *kPreload = "libumockdev-preload.so.0";
}

EmulatedBus::EmulatedBus()
    : testbed_(umockdev_testbed_new())
{
}

EmulatedBus::~EmulatedBus()
{
    g_object_unref(testbed_);
}

bool EmulatedBus::preloaded()
{
    const char *preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload");
}

bool EmulatedBus::ensurePreloaded(int argc, char **argv)
{
    (void)argc;
    if (preloaded())
        return true;
    QByteArray preload(kPreload);
    const QByteArray existing = qgetenv("LD_PRELOAD");
    if (!existing.isEmpty())
        preload += ' ' + existing;
    qputenv("LD_PRELOAD", preload);
    // The preload library comes before the sanitizer runtime; let it.
    QByteArray asan = qgetenv("ASAN_OPTIONS");
    if (!asan.contains("verify_asan_link_order")) {
        asan += asan.isEmpty() ? "" : ":";
        asan += "verify_asan_link_order=0";
        qputenv("ASAN_OPTIONS", asan);
    }
    execv("/proc/self/exe", argv);
    return false;
}

QProcessEnvironment EmulatedBus::childEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.value(QStringLiteral("LD_PRELOAD")).contains(QLatin1String("libumockdev-preload")))
        env.insert(QStringLiteral("LD_PRELOAD"), QString::fromLatin1(kPreload));
    env.insert(QStringLiteral("UMOCKDEV_DIR"), rootDir());
    QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    if (!asan.contains(QLatin1String("verify_asan_link_order")))
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
    return env;
}

QString EmulatedBus::rootDir() const
{
    gchar *dir = umockdev_testbed_get_root_dir(testbed_);
    const QString root = QString::fromLocal8Bit(dir);
    g_free(dir);
    return root;
}
