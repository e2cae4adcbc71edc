// quillmark            the workbench on the box on the USB bus (libusb)
// quillmark --simulate the workbench on the simulated box
#include "app/quillmark_app.h"
#include "link/libusb_backend.h"
#include "simbox/demo_bus.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>

namespace {

// Without an application object the parser does not know the program's name.
QString helpText(const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    text.replace(QStringLiteral("<executable_name>"), QStringLiteral("quillmark"));
    return text;
}

QStringList argumentList(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

}  // namespace

int main(int argc, char** argv)
{
    // Options are parsed before the application object exists, so that
    // --help and --version work without a display.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Workbench for rotary position encoders on the Orvik_encoder_box USB adapter."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption(QStringList{"v", "version"},
                                           QStringLiteral("Print the program version."));
    const QCommandLineOption simulateOption(
        QStringLiteral("simulate"), QStringLiteral("Work on the simulated box instead of the USB bus."));
    parser.addOption(versionOption);
    parser.addOption(simulateOption);

    // Qt's own options (-platform, ...) are not known yet: look only for
    // ours here and check the rest once the application has taken its own.
    parser.parse(argumentList(argc, argv));
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        std::printf("%s", qPrintable(helpText(parser)));
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("Version 2.3\n");
        return 0;
    }

    CQuillmarkApp app(argc, argv);
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "quillmark: %s\n%s", qPrintable(parser.errorText()), qPrintable(helpText(parser)));
        return 2;
    }
    std::shared_ptr<UsbBackend> backend;
    if (parser.isSet(simulateOption)) {
        backend = makeDemoBus();
    } else {
        backend = std::make_shared<LibusbBackend>();
    }
    return app.run(std::move(backend));
}
