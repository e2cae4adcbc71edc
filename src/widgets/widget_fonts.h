#pragma once
// Fonts of the drawn controls. The dial labels ask for "Arial"; on Linux the
// metric-compatible Liberation Sans stands in for it.
#include <QFont>

// "Arial" (substituted by Liberation Sans where Arial is missing), sized so
// that its cell height -- ascent plus descent, as a positive GDI font height
// means -- is at most `cellHeight` pixels.
QFont arialFont(int cellHeight, bool bold);
