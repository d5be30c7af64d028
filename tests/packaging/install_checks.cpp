#include "install_checks.h"

#include "udev_probe.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

namespace {

const QString kProgram = QStringLiteral("bin/boxwright");
const QString kProbe = QStringLiteral("lib/udev/boxwright-udev-probe");
const QString kRules = QStringLiteral("lib/udev/rules.d/70-boxwright-key.rules");
const QString kDesktop = QStringLiteral("share/applications/boxwright.desktop");
const QString kIcon = QStringLiteral("share/icons/hicolor/scalable/apps/boxwright.svg");
const QString kImages = QStringLiteral("share/boxwright/BoxwrightImages");
const QStringList kDocs {QStringLiteral("share/man/man1/boxwright.1.gz"),
                         QStringLiteral("share/doc/boxwright/copyright"),
                         QStringLiteral("share/doc/boxwright/changelog.gz"),
                         QStringLiteral("share/doc/boxwright/third-party-notices.txt")};

QStringList sourceImages()
{
    return QDir(QStringLiteral(BW_SOURCE_DIR "/BoxwrightImages"))
            .entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
}

QString readText(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll());
}

bool isExecutableFile(const QString &path)
{
    const QFileInfo fi(path);
    return fi.isFile() && (fi.permissions() & QFile::ExeOther);
}

// One udev rule line: comma-separated KEY op "value" pairs.
bool plausibleRuleLine(const QString &line)
{
    static const QRegularExpression pair(QStringLiteral(
            R"re(^\s*[A-Z]+(\{[A-Za-z0-9_ =-]+\})?\s*(==|!=|\+=|-=|:=|=)\s*"[^"]*"\s*$)re"));
    const QStringList parts = line.split(QLatin1Char(','));
    for (const QString &p : parts) {
        if (!pair.match(p).hasMatch())
            return false;
    }
    return true;
}

void checkRules(const QString &prefix, QStringList &problems)
{
    const QString name = QFileInfo(kRules).fileName();
    // 73-seat-late.rules turns the uaccess tag into an ACL: ours must come first.
    if (name.section(QLatin1Char('-'), 0, 0).toInt() >= 73)
        problems << QStringLiteral("rules file sorts after 73-seat-late.rules: %1").arg(name);

    const QString text = readText(QDir(prefix).filePath(kRules));
    bool probed = false, granted = false;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (!plausibleRuleLine(line))
            problems << QStringLiteral("malformed rule: %1").arg(line);
        static const QRegularExpression import(QStringLiteral(R"re(IMPORT\{program\}="(\S+))re"));
        const QRegularExpressionMatch m = import.match(line);
        if (m.hasMatch()) {
            probed = true;
            // udev looks a bare program name up in its own folder.
            const QString program = m.captured(1);
            const QString path = program.startsWith(QLatin1Char('/'))
                    ? program
                    : QDir(prefix).filePath(QStringLiteral("lib/udev/") + program);
            if (!isExecutableFile(path))
                problems << QStringLiteral("rule runs %1, not installed as %2").arg(program, path);
        }
        const QString matchKey = QStringLiteral("ENV{%1}==\"1\"").arg(QLatin1String(kKeyProperty));
        if (line.contains(matchKey) && line.contains(QStringLiteral("TAG+=\"uaccess\""))
            && line.contains(QStringLiteral("GROUP=\"plugdev\""))
            && line.contains(QStringLiteral("MODE=\"0660\"")))
            granted = true;
    }
    if (!probed)
        problems << QStringLiteral("rules never run the probe");
    if (!granted)
        problems << QStringLiteral("no rule grants uaccess and plugdev on %1==1")
                            .arg(QLatin1String(kKeyProperty));
}

void checkDesktopEntry(const QString &prefix, QStringList &problems)
{
    const QString path = QDir(prefix).filePath(kDesktop);
    const QString validator
            = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty()) {
        problems << QStringLiteral("desktop-file-validate not installed");
    } else {
        const CommandResult r = runCommand(validator, {path});
        // Hints are advice; errors and warnings are faults.
        if (r.exitCode != 0 || r.out.contains("error:") || r.out.contains("warning:"))
            problems << QStringLiteral("desktop entry: %1").arg(QString::fromUtf8(r.out + r.err));
    }
    QString exec, icon;
    const QStringList lines = readText(path).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QStringLiteral("Exec=")))
            exec = line.mid(5).section(QLatin1Char(' '), 0, 0);
        else if (line.startsWith(QStringLiteral("Icon=")))
            icon = line.mid(5).trimmed();
    }
    if (QDir(prefix).filePath(QStringLiteral("bin/") + exec) != QDir(prefix).filePath(kProgram))
        problems << QStringLiteral("desktop entry starts '%1', not the program").arg(exec);
    if (QFileInfo(kIcon).completeBaseName() != icon)
        problems << QStringLiteral("desktop entry names icon '%1'").arg(icon);
}

void checkIcon(const QString &prefix, QStringList &problems)
{
    QFile f(QDir(prefix).filePath(kIcon));
    if (!f.open(QIODevice::ReadOnly))
        return;
    QXmlStreamReader xml(&f);
    QString root;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && root.isEmpty())
            root = xml.name().toString();
    }
    if (xml.hasError() || root != QStringLiteral("svg"))
        problems << QStringLiteral("icon is not an SVG document: %1").arg(xml.errorString());
}

} // namespace

CommandResult runCommand(const QString &program, const QStringList &args, const QString &workDir,
                         const QProcessEnvironment &env, int timeoutMs)
{
    CommandResult r;
    QProcess p;
    p.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        r.err = "did not finish: " + program.toUtf8();
        return r;
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    if (p.exitStatus() == QProcess::NormalExit)
        r.exitCode = p.exitCode();
    return r;
}

QStringList filesBelow(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext())
        files << base.relativeFilePath(it.next());
    files.sort();
    return files;
}

QStringList installedTreeProblems(const QString &prefix)
{
    QStringList problems;
    const QStringList images = sourceImages();
    if (images.isEmpty())
        problems << QStringLiteral("no images in the source tree");

    QStringList expected = QStringList {kProgram, kProbe, kRules, kDesktop, kIcon} + kDocs;
    for (const QString &image : images)
        expected << kImages + QLatin1Char('/') + image;
    expected.sort();
    const QStringList found = filesBelow(prefix);
    for (const QString &f : expected) {
        if (!found.contains(f))
            problems << QStringLiteral("missing: %1").arg(f);
    }
    for (const QString &f : found) {
        if (!expected.contains(f))
            problems << QStringLiteral("not part of the product: %1").arg(f);
    }
    if (!problems.isEmpty())
        return problems;

    for (const QString &exe : {kProgram, kProbe}) {
        if (!isExecutableFile(QDir(prefix).filePath(exe)))
            problems << QStringLiteral("not executable: %1").arg(exe);
    }
    for (const QString &image : images) {
        if (QImage(QDir(prefix).filePath(kImages + QLatin1Char('/') + image)).isNull())
            problems << QStringLiteral("image does not load: %1").arg(image);
    }
    checkRules(prefix, problems);
    checkDesktopEntry(prefix, problems);
    checkIcon(prefix, problems);

    // The installed probe starts (its libraries resolve) and refuses nonsense.
    const CommandResult probe = runCommand(QDir(prefix).filePath(kProbe), {QStringLiteral("x")});
    if (probe.exitCode != 2 || !probe.out.isEmpty())
        problems << QStringLiteral("installed probe: exit %1, %2")
                            .arg(probe.exitCode)
                            .arg(QString::fromUtf8(probe.err));
    return problems;
}

QString imageLookupProblem(const QString &prefix)
{
    const QString copy = QDir(prefix).filePath(QStringLiteral("bin/bw_image_lookup"));
    QFile::remove(copy);
    if (!QFile::copy(QStringLiteral(BW_IMAGE_LOOKUP_PATH), copy))
        return QStringLiteral("cannot copy the lookup helper to %1").arg(copy);
    QTemporaryDir elsewhere;
    const CommandResult r = runCommand(copy, {}, elsewhere.path());
    QFile::remove(copy);
    const QString expected = QFileInfo(QDir(prefix).filePath(kImages)).canonicalFilePath();
    const QString found = QFileInfo(QString::fromUtf8(r.out).trimmed()).canonicalFilePath();
    if (r.exitCode != 0 || found.isEmpty() || found != expected)
        return QStringLiteral("program looks for images in '%1', installed in '%2'")
                .arg(QString::fromUtf8(r.out).trimmed(), expected);
    return {};
}
