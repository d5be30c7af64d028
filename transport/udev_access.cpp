#include "udev_access.h"

#include <QDir>
#include <QFileInfo>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

QString groupName(gid_t gid)
{
    std::vector<char> buf(16384);
    group entry {};
    group *found = nullptr;
    if (getgrgid_r(gid, &entry, buf.data(), buf.size(), &found) != 0 || !found)
        return QString::number(gid);
    return QString::fromLocal8Bit(found->gr_name);
}

bool processHasGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = getgroups(count, groups.data());
    for (int i = 0; i < got; ++i) {
        if (groups[static_cast<size_t>(i)] == gid)
            return true;
    }
    return false;
}

struct Account
{
    QString name;
    gid_t primaryGroup = 0;
};

Account account()
{
    std::vector<char> buf(16384);
    passwd entry {};
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buf.data(), buf.size(), &found) != 0 || !found)
        return {QString::number(geteuid()), getegid()};
    return {QString::fromLocal8Bit(found->pw_name), found->pw_gid};
}

// Whether the user's account lists the group, whatever this login session got.
bool accountHasGroup(const Account &user, gid_t gid)
{
    if (user.primaryGroup == gid)
        return true;
    std::vector<char> buf(65536);
    group entry {};
    group *found = nullptr;
    if (getgrgid_r(gid, &entry, buf.data(), buf.size(), &found) != 0 || !found)
        return false;
    for (char **member = found->gr_mem; member && *member; ++member) {
        if (QString::fromLocal8Bit(*member) == user.name)
            return true;
    }
    return false;
}

bool ruleInstalled(const QStringList &ruleDirs)
{
    for (const QString &dir : ruleDirs) {
        if (QFileInfo(QDir(dir).filePath(QLatin1String(kUdevRulesFile))).isFile())
            return true;
    }
    return false;
}

} // namespace

QStringList udevRuleDirs()
{
    return {QStringLiteral("/etc/udev/rules.d"), QStringLiteral("/run/udev/rules.d"),
            QStringLiteral("/usr/lib/udev/rules.d"), QStringLiteral("/lib/udev/rules.d")};
}

UsbAccessProblem describeDeniedKey(const QString &node, const QStringList &ruleDirs)
{
    UsbAccessProblem problem;
    problem.node = node;
    const QString rules = QLatin1String(kUdevRulesFile);
    const QString keyGroup = QLatin1String(kKeyGroup);
    const QString denied
            = QStringLiteral("The key at %1 cannot be opened: no permission. ").arg(node);
    if (!ruleInstalled(ruleDirs)) {
        problem.hint = QStringLiteral("No access to the key: udev rule %1 missing").arg(rules);
        problem.detail = denied
                + QStringLiteral(
                          "Install the udev rule for the key (%1) and plug the key in again.")
                          .arg(rules);
        return problem;
    }

    struct stat st
    {
    };
    const bool known = ::stat(node.toLocal8Bit().constData(), &st) == 0;
    const QString group = known ? groupName(st.st_gid) : QString();
    // The rule hands the key to the group; a key with another group was plugged
    // in before the rule was there, or udev has not run it yet.
    if (group != keyGroup || processHasGroup(st.st_gid)) {
        problem.hint = QStringLiteral("No access to the key: plug it in again");
        problem.detail = denied
                + QStringLiteral("The udev rule %1 is installed but has not been applied to "
                                 "this key (group %2); plug the key in again.")
                          .arg(rules, group.isEmpty() ? QStringLiteral("unknown") : group);
        return problem;
    }

    const Account user = account();
    if (accountHasGroup(user, st.st_gid)) {
        problem.hint = QStringLiteral("No access to the key: log in again to use group %1")
                               .arg(keyGroup);
        problem.detail = denied
                + QStringLiteral("User %1 joined group %2 after logging in; log out and in "
                                 "again.")
                          .arg(user.name, keyGroup);
        return problem;
    }
    problem.hint = QStringLiteral("No access to the key: join group %1").arg(keyGroup);
    problem.detail = denied
            + QStringLiteral("The key belongs to group %1 and user %2 is neither in it nor at "
                             "this machine's desktop session. Add the user to group %1, then log "
                             "in again.")
                      .arg(keyGroup, user.name);
    return problem;
}
