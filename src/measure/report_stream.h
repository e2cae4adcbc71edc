#pragma once
// A capture file turned into its decimal report file, a megabyte at a time
// in bounded memory: the window's "Save as decimal" and quillmark-tool's
// report command both write reports this way.
#include "common/file_io.h"
#include "measure/decimal_report.h"

#include <QString>

struct ReportStreamError {
    enum class Side { None, Capture, Report };
    Side side = Side::None;  // which file failed
    QString text;
    bool ok() const { return side == Side::None; }
};

// Reads `capture` to its end and writes the report to `report` (not
// committed: the caller commits or cancels).
ReportStreamError streamDecimalReport(fileio::InputFile& capture, fileio::OutputFile& report,
                                      const DecimalReportSettings& settings);
