#include "program_identity.h"

#include "build_info.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>

namespace {

struct Options
{
    QCommandLineOption help;
    QCommandLineOption version;
};

Options describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
            QStringLiteral("Companion program for the USB seal key. It takes its relay server "
                           "and web service from the key and needs no options."));
    return {parser.addHelpOption(), parser.addVersionOption()};
}

QStringList argumentList(int argc, char **argv)
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}

} // namespace

std::optional<int> answerInformationOptions(int argc, char **argv)
{
    QCommandLineParser parser;
    const Options options = describe(parser);
    // The toolkit's own options are unknown here; they are left for later.
    parser.parse(argumentList(argc, argv));
    if (parser.isSet(options.version)) {
        std::printf("boxwright %s (%s)\n", qPrintable(programVersion()),
                    qPrintable(buildDescription()));
        return 0;
    }
    if (parser.isSet(QStringLiteral("help-all"))) {
        // Qt's own options are listed by the parser alone; it ends the program itself.
        QCoreApplication app(argc, argv);
        parser.process(app);
    }
    if (parser.isSet(options.help)) {
        // The help text names the program as the application object sees it.
        QCoreApplication app(argc, argv);
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    return std::nullopt;
}

std::optional<int> refuseUnknownOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    describe(parser);
    if (parser.parse(arguments))
        return std::nullopt;
    std::fprintf(stderr, "boxwright: %s\nTry 'boxwright --help'.\n",
                 qPrintable(parser.errorText()));
    return 2;
}

void setProgramIdentity()
{
    Q_INIT_RESOURCE(icons);
    QCoreApplication::setApplicationVersion(programVersion());
    QGuiApplication::setDesktopFileName(QStringLiteral("boxwright"));
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/boxwright-%1.png").arg(size), QSize(size, size));
    QGuiApplication::setWindowIcon(icon);
}
