#pragma once
// The application object: names the program (its data root is
// ~/.local/share/Quillmark), sets up the fonts the dialogs ask for, then runs
// the main window modally; the program ends when the window closes.
#include <QApplication>
#include <QIcon>
#include <memory>
#include <optional>

#include "bench/bench.h"

class UsbBackend;

class CQuillmarkApp : public QApplication {
    Q_OBJECT
public:
    CQuillmarkApp(int& argc, char** argv);

    // Creates the main window on `backend`, runs it modally and returns when
    // it has been closed and destroyed. Results of a simulated box are kept
    // marked as such.
    // `firstRun`: the interface a start without a saved FileName.cfg begins with.
    int run(std::shared_ptr<UsbBackend> backend, bool simulated = false,
            std::optional<StartInterface> firstRun = std::nullopt);

    // "Arial" and "MS Shell Dlg" are Windows faces; Liberation Sans stands
    // in for both, and a CJK face draws the Chinese captions. Idempotent.
    static void installFontSubstitutions();

    // The window icon, embedded (the PNG sizes of the installed theme icon),
    // so that X11 and an uninstalled build show it too.
    static QIcon applicationIcon();
};
