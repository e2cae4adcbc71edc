#include "widgets/screenshot_scenes.h"

#include "widgets/colour_button.h"
#include "widgets/lamp_images.h"
#include "widgets/meter.h"
#include "widgets/rate_bar.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <map>

namespace {

std::map<QString, SceneFactory>& registry()
{
    // Built on first use, so registrars in other files may run in any order.
    static std::map<QString, SceneFactory> scenes;
    return scenes;
}

QWidget* gaugeScene()
{
    auto* m = new CMeter;
    m->resize(400, 400);
    m->setValue(90);
    return m;
}

QWidget* forceGaugeScene()
{
    auto* m = new CMeter_fprce;
    m->resize(400, 400);
    m->setValue(150);
    return m;
}

QWidget* buttonsScene()
{
    auto* w = new QWidget;
    auto* grid = new QGridLayout(w);

    auto* power = new CMyColor;
    power->setText("Power control");
    power->setNormalColour(QColor(127, 255, 0));
    power->setDown(true);  // held down: pressed fill, inverse frame
    auto* setting = new CMyButton;
    setting->setText("Clicking setting");
    auto* back = new CMyColor_force;
    back->setText("Back to home");
    auto* enter = new CMyGetID;
    enter->setText("ENTER");
    enter->setNormalColour(QColor(127, 255, 0));

    int row = 0;
    for (CColourButton* b : {static_cast<CColourButton*>(power), static_cast<CColourButton*>(setting),
                             static_cast<CColourButton*>(back), static_cast<CColourButton*>(enter)}) {
        QFont f = b->font();
        f.setBold(true);
        b->setFont(f);
        b->setFixedSize(150, 32);
        grid->addWidget(b, row / 2, row % 2);
        ++row;
    }

    auto* rate = new CRate;
    rate->setRange(0, 60);
    rate->setValue(30);
    rate->setFixedSize(304, 16);
    grid->addWidget(rate, 2, 0, 1, 2);

    auto* lamps = new QHBoxLayout;
    for (Lamp l : {Lamp::Unlit, Lamp::Lit, Lamp::Passed}) {
        auto* lamp = new CLamp;
        lamp->setLamp(l);
        lamp->setFixedSize(kLampSize + 8, kLampSize + 8);
        lamps->addWidget(lamp);
    }
    lamps->addStretch();
    grid->addLayout(lamps, 3, 0, 1, 2);
    w->adjustSize();
    return w;
}

const SceneRegistrar gaugeReg("gauge", gaugeScene);
const SceneRegistrar forceGaugeReg("force-gauge", forceGaugeScene);
const SceneRegistrar buttonsReg("buttons", buttonsScene);

}  // namespace

void registerScene(const QString& name, SceneFactory factory)
{
    registry()[name] = std::move(factory);
}

QStringList sceneNames()
{
    QStringList names;
    for (const auto& [name, factory] : registry())
        names << name;
    return names;
}

QWidget* createScene(const QString& name)
{
    const auto it = registry().find(name);
    return it == registry().end() ? nullptr : it->second();
}
