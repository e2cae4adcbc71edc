#pragma once
// Named scenes for the screenshot tool: each builds a widget that the tool
// renders off-screen and saves as a PNG, so that a reviewer can see the look
// of a window without a display.
//
// Any file can add a scene with a registrar at namespace scope, e.g. in
// src/app/about_dialog.cpp:
//
//     #include "widgets/screenshot_scenes.h"
//     static const SceneRegistrar aboutScene("about", [] {
//         return new CAboutDlg;
//     });
//
// The libraries are static archives; the screenshot tool links them whole so
// that a registrar is kept even when nothing else refers to its file.
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Builds the scene's widget; the caller owns it.
using SceneFactory = std::function<QWidget*()>;

// Adds or replaces a scene.
void registerScene(const QString& name, SceneFactory factory);
// Names of all scenes, sorted.
QStringList sceneNames();
// A new widget of the named scene, or nullptr when there is no such scene.
QWidget* createScene(const QString& name);

struct SceneRegistrar {
    SceneRegistrar(const QString& name, SceneFactory factory)
    {
        registerScene(name, std::move(factory));
    }
};
