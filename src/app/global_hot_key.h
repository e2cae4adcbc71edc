#pragma once
// A system-wide hot key. On X11 the key is grabbed on the root window, so it
// fires whichever window has the focus; elsewhere (Wayland, offscreen) no
// client may grab keys, and an application-wide shortcut stands in for it.
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

class QShortcut;
class QWidget;

class GlobalHotKey : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    enum class Mode {
        X11Grab,              // grabbed on the X server's root window
        ApplicationShortcut,  // only while one of our windows is active
        Unavailable,          // the grab failed (held by another client, or no such key)
    };

    // Registers Ctrl+Alt+<letter> under `id` for `window`. `letter` is a
    // lowercase ASCII letter or digit.
    GlobalHotKey(int id, char letter, QWidget* window);
    ~GlobalHotKey() override;

    int id() const { return id_; }
    Mode mode() const { return mode_; }
    // Why the key is not available, for the user; empty when it is.
    QString errorText() const { return error_; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void activated(int id);

private:
    bool grabX11(char letter);
    void ungrabX11();

    int id_;
    Mode mode_ = Mode::Unavailable;
    QString error_;
    QShortcut* shortcut_ = nullptr;

    // X11 state; the connection is Qt's own.
    void* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint8_t keycode_ = 0;
    std::uint16_t modifiers_ = 0;
    std::vector<std::uint16_t> grabbed_;  // modifier sets actually grabbed
};
