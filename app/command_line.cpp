#include "app/command_line.h"

#include <cstdio>
#include <memory>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>

#include "app/environment.h"
#include "video/file_camera.h"

namespace
{
constexpr const char* kVersion = "0.31";
} // namespace

int applyCommandLine(const QStringList& arguments)
{
    QCoreApplication::setApplicationName("kestrova");
    QCoreApplication::setApplicationVersion(kVersion);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Measures the bar path, height and velocity of a barbell from a web camera.");
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption cameraOption(
        "camera", "Capture device N, or a movie FILE played as the camera.", "N|FILE");
    const QCommandLineOption loopOption("loop", "Play the camera FILE again when it ends.");
    parser.addOption(cameraOption);
    parser.addOption(loopOption);

    // Read before the application object exists, the parser knows no
    // program name of its own.
    const QString usage = parser.helpText().replace("<executable_name>", "kestrova");
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        const QString why = parser.errorText().isEmpty()
                                ? "Unexpected argument: " + parser.positionalArguments().join(' ')
                                : parser.errorText();
        std::fprintf(stderr, "%s\n\n%s", qPrintable(why), qPrintable(usage));
        return 2;
    }
    if (parser.isSet(helpOption)) {
        std::printf("%s", qPrintable(usage));
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("kestrova %s\n", kVersion);
        return 0;
    }
    if (!parser.isSet(cameraOption))
        return -1;

    Environment& env = environment();
    const QString camera = parser.value(cameraOption);
    if (QRegularExpression("^[0-9]+$").match(camera).hasMatch()) {
        env.cameraDevice = camera.toInt();
        return -1;
    }
    const std::string path = camera.toLocal8Bit().toStdString();
    const bool loop = parser.isSet(loopOption);
    env.makeCamera = [path, loop] {
        auto file = std::make_unique<FileCamera>(path, loop, [] { return environment().nowMs(); });
        return std::unique_ptr<CameraSource>(std::move(file));
    };
    env.cameraWarmUpMs = 0;
    return -1;
}

void useOwnFolderInHome()
{
    const QDir home = QDir::home();
    if (QDir::current() != home)
        return;
    if (home.mkpath("Kestrova"))
        QDir::setCurrent(home.filePath("Kestrova"));
}
