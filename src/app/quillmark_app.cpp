#include "app/quillmark_app.h"

#include "app/quillmark_dlg.h"

#include <QFont>
#include <QIcon>
#include <mutex>

CQuillmarkApp::CQuillmarkApp(int& argc, char** argv) : QApplication(argc, argv)
{
    // No organisation name: QStandardPaths::AppDataLocation is then
    // ~/.local/share/Quillmark, the root of config/ and text/.
    setApplicationName(QStringLiteral("Quillmark"));
    setApplicationVersion(QStringLiteral("2.3"));
    // The id of the installed .desktop file: Wayland compositors and docks
    // find the icon and the name through it.
    setDesktopFileName(QStringLiteral("io.github.quillmark.Quillmark"));
    installFontSubstitutions();

    setWindowIcon(applicationIcon());
}

QIcon CQuillmarkApp::applicationIcon()
{
    // The resource lives in the static qm_app library: without a reference
    // by name the linker would drop it.
    Q_INIT_RESOURCE(app_icon);
    QIcon icon;
    for (int size : {48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/quillmark-%1.png").arg(size), QSize(size, size));
    return icon;
}

int CQuillmarkApp::run(std::shared_ptr<UsbBackend> backend)
{
    CQuillmarkDlg dlg(std::move(backend));
    dlg.exec();
    return 0;
}

void CQuillmarkApp::installFontSubstitutions()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const QStringList stand_ins{QStringLiteral("Liberation Sans"), QStringLiteral("WenQuanYi Micro Hei"),
                                    QStringLiteral("Noto Sans CJK SC")};
        QFont::insertSubstitutions(QStringLiteral("Arial"), stand_ins);
        QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg"), stand_ins);
    });
}
