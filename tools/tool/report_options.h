#pragma once
// The command line of "quillmark-tool report" and the report settings it
// gives. Pure: no file is touched here, so the parsing can be fuzzed.
#include "measure/config_record.h"
#include "measure/decimal_report.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace cli {

constexpr int kOk = 0;
constexpr int kFailed = 1;  // unreadable input, bad data, write failure
constexpr int kUsage = 2;   // bad command line

struct Failure {
    int status = kFailed;
    QString message;
};

struct ReportOptions {
    bool help = false;
    QString capture;
    QString output;
    std::optional<QString> protocol, widths, labels, config;
};

// Parses the arguments that follow "report". With --help anywhere the result
// asks for help and nothing else is checked.
std::optional<Failure> parseReportArguments(const QStringList& args, ReportOptions& options);

// Settings from --protocol, --widths and --labels. Each width must be one the
// box can take, 0..64 bits.
std::optional<Failure> settingsFromOptions(const ReportOptions& options, DecimalReportSettings& settings);

// Settings from a configuration record read from `path`. Widths of the
// fields in use are checked like --widths.
std::optional<Failure> settingsFromConfig(const ConfigRecordValues& record, const QString& path,
                                          DecimalReportSettings& settings);

}  // namespace cli
