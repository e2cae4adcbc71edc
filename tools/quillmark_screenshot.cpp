// Renders a named scene off-screen and saves it as a PNG:
//   quillmark-screenshot NAME OUT.png
//   quillmark-screenshot --list
#include "widgets/screenshot_scenes.h"

#include <QApplication>
#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    const QStringList args = app.arguments().mid(1);
    if (args.size() == 1 && args[0] == "--list") {
        for (const QString& name : sceneNames())
            std::printf("%s\n", qPrintable(name));
        return 0;
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: quillmark-screenshot NAME OUT.png\n"
                             "       quillmark-screenshot --list\n");
        return 2;
    }
    std::unique_ptr<QWidget> w(createScene(args[0]));
    if (!w) {
        std::fprintf(stderr, "quillmark-screenshot: no scene \"%s\" (see --list)\n",
                     qPrintable(args[0]));
        return 1;
    }
    // Shown so that layouts settle and pending resize events are delivered.
    w->setAttribute(Qt::WA_DontShowOnScreen);
    w->show();
    QApplication::processEvents();
    const QPixmap shot = w->grab();
    if (!shot.save(args[1], "PNG")) {
        std::fprintf(stderr, "quillmark-screenshot: cannot write %s\n", qPrintable(args[1]));
        return 1;
    }
    return 0;
}
