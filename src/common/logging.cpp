#include "common/logging.h"

// Warnings and above only, unless QT_LOGGING_RULES asks for more.
Q_LOGGING_CATEGORY(lcLink, "quillmark.link", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSim, "quillmark.sim", QtWarningMsg)
Q_LOGGING_CATEGORY(lcBench, "quillmark.bench", QtWarningMsg)
Q_LOGGING_CATEGORY(lcResults, "quillmark.results", QtWarningMsg)
