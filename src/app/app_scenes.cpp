// Screenshot scenes of the application's windows.
#include "app/about_dialog.h"
#include "app/quillmark_dlg.h"
#include "simbox/demo_bus.h"
#include "widgets/screenshot_scenes.h"

namespace {

// The main window as it opens on the simulated box.
QWidget* mainWindowScene()
{
    return new CQuillmarkDlg(makeDemoBus());
}

const SceneRegistrar mainScene("main", mainWindowScene);
const SceneRegistrar aboutScene("about", [] { return new CAboutDlg; });

}  // namespace
