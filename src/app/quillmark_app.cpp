#include "app/quillmark_app.h"

#include "app/quillmark_dlg.h"

#include <QFont>
#include <mutex>

CQuillmarkApp::CQuillmarkApp(int& argc, char** argv) : QApplication(argc, argv)
{
    // No organisation name: QStandardPaths::AppDataLocation is then
    // ~/.local/share/Quillmark, the root of config/ and text/.
    setApplicationName(QStringLiteral("Quillmark"));
    setApplicationVersion(QStringLiteral("2.3"));
    setDesktopFileName(QStringLiteral("quillmark"));
    installFontSubstitutions();
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
