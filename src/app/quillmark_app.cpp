#include "app/quillmark_app.h"

#include "app/quillmark_dlg.h"
#include "results/results_store.h"

#include <QFont>
#include <QIcon>
#include <QMessageBox>
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

int CQuillmarkApp::run(std::shared_ptr<UsbBackend> backend, bool simulated, std::optional<StartInterface> firstRun)
{
    // The store outlives the window: what the last test reported is written
    // (and offered to the line's server) after the window has gone.
    QString error;
    auto store = std::make_shared<ResultsStore>(configuredResultsStore(&error));
    CQuillmarkDlg dlg(std::move(backend), std::move(firstRun));
    dlg.keepResults(store, simulated);
    if (!error.isEmpty())
        QMessageBox::warning(&dlg, dlg.windowTitle(), error + QStringLiteral("\nResults are kept on this bench only."));
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
