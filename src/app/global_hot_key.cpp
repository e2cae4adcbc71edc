#include "app/global_hot_key.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {

// The key must fire whatever the state of CapsLock and NumLock, which the
// X server counts as modifiers: grab every combination of the two.
// NumLock is Mod2 on every common keyboard map.
constexpr std::uint16_t kNumLock = XCB_MOD_MASK_2;
constexpr std::uint16_t kLockCombinations[] = {0, XCB_MOD_MASK_LOCK, kNumLock,
                                               XCB_MOD_MASK_LOCK | kNumLock};
// Modifiers that take part in the comparison of a key press.
constexpr std::uint16_t kRelevantModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
constexpr std::uint8_t kBadAccess = 10;

xcb_connection_t* qtConnection()
{
    if (!qGuiApp)
        return nullptr;
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        return x11->connection();
    return nullptr;
}

// The first keycode that produces `keysym` in any shift level.
std::uint8_t keycodeFor(xcb_connection_t* c, xcb_keysym_t keysym)
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr);
    if (!reply)
        return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perKey = reply->keysyms_per_keycode;
    std::uint8_t found = 0;
    for (int k = 0; k < count && !found; ++k)
        for (int j = 0; j < perKey; ++j)
            if (syms[k * perKey + j] == keysym) {
                found = static_cast<std::uint8_t>(first + k);
                break;
            }
    std::free(reply);
    return found;
}

}  // namespace

GlobalHotKey::GlobalHotKey(int id, char letter, QWidget* window) : QObject(window), id_(id)
{
    if (grabX11(letter)) {
        mode_ = Mode::X11Grab;
        QCoreApplication::instance()->installNativeEventFilter(this);
        return;
    }
    if (connection_) {
        // On X11 but the grab failed: do not pretend with a local shortcut,
        // say why the key does nothing.
        std::fprintf(stderr, "quillmark: %s\n", qPrintable(error_));
        return;
    }
    // Wayland and offscreen: a shortcut that works while our window is active.
    const QKeyCombination key(Qt::ControlModifier | Qt::AltModifier,
                              static_cast<Qt::Key>(QChar(letter).toUpper().unicode()));
    shortcut_ = new QShortcut(QKeySequence(key), window);
    shortcut_->setContext(Qt::ApplicationShortcut);
    connect(shortcut_, &QShortcut::activated, this, [this] { emit activated(id_); });
    mode_ = Mode::ApplicationShortcut;
}

GlobalHotKey::~GlobalHotKey()
{
    if (mode_ == Mode::X11Grab) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        ungrabX11();
    }
}

bool GlobalHotKey::grabX11(char letter)
{
    auto* c = qtConnection();
    if (!c)
        return false;
    connection_ = c;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    // Latin letters and digits have keysyms equal to their lowercase ASCII code.
    keycode_ = keycodeFor(c, static_cast<xcb_keysym_t>(QChar(letter).toLower().unicode()));
    modifiers_ = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    const QString name = QStringLiteral("Ctrl+Alt+%1").arg(QChar(letter).toUpper());
    if (!keycode_) {
        error_ = QStringLiteral("The keyboard map has no key for %1; the hot key is not available.").arg(name);
        return false;
    }
    for (std::uint16_t extra : kLockCombinations) {
        const std::uint16_t mods = modifiers_ | extra;
        xcb_generic_error_t* err = xcb_request_check(
            c, xcb_grab_key_checked(c, 1, root_, mods, keycode_, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        if (err) {
            const bool taken = err->error_code == kBadAccess;
            const int code = err->error_code;
            std::free(err);
            error_ = taken ? QStringLiteral("%1 is already grabbed by another program (BadAccess); "
                                            "the capture hot key is not available.")
                                 .arg(name)
                           : QStringLiteral("The X server refused to grab %1 (error %2); "
                                            "the capture hot key is not available.")
                                 .arg(name)
                                 .arg(code);
            ungrabX11();
            return false;
        }
        grabbed_.push_back(mods);
    }
    xcb_flush(c);
    return true;
}

void GlobalHotKey::ungrabX11()
{
    auto* c = static_cast<xcb_connection_t*>(connection_);
    if (!c)
        return;
    for (std::uint16_t mods : grabbed_)
        xcb_ungrab_key(c, keycode_, root_, mods);
    grabbed_.clear();
    xcb_flush(c);
}

bool GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto* ev = static_cast<xcb_generic_event_t*>(message);
    if ((ev->response_type & 0x7F) != XCB_KEY_PRESS)
        return false;
    auto* press = reinterpret_cast<xcb_key_press_event_t*>(ev);
    if (press->detail != keycode_ || (press->state & kRelevantModifiers) != modifiers_)
        return false;
    emit activated(id_);
    return true;
}
