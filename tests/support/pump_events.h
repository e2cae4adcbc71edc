#pragma once
// The window's own timers and queued signals run on Qt's event loop: lets
// the GUI thread handle its events, for at least `ms` of real time.
#include <QApplication>
#include <QElapsedTimer>

inline void pumpEvents(int ms = 0)
{
    QElapsedTimer t;
    t.start();
    do
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    while (t.elapsed() < ms);
}
