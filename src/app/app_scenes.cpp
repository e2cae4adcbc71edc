// Screenshot scenes of the application's windows.
#include "app/about_dialog.h"
#include "app/quillmark_dlg.h"
#include "simbox/sim_bus.h"
#include "widgets/screenshot_scenes.h"

namespace {

// The main window as it opens on the simulated bus.
QWidget* mainWindowScene()
{
    // TODO(simbox): the demonstration box (makeDemoBus) once it lands.
    return new CQuillmarkDlg(std::make_shared<SimBus>());
}

const SceneRegistrar mainScene("main", mainWindowScene);
const SceneRegistrar aboutScene("about", [] { return new CAboutDlg; });

}  // namespace
