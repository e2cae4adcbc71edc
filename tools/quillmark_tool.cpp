// quillmark-tool: offline work on files the workbench produces.
//   report  turns a raw capture file into the decimal text report
//   fit     fits the sin/cos ellipse to samples in a CSV file
//   configure, read, ... run the workbench's tests on the real or simulated box
// Runs without a display: Qt Core (and Gui for colours), never Widgets.
#include "common/file_io.h"
#include "headless/headless_cli.h"
#include "measure/config_record.h"
#include "measure/decimal_report.h"
#include "measure/report_stream.h"
#include "sincos/sincos_ellipse_fit.h"
#include "tool/report_options.h"
#include "tool/samples_csv.h"

#include <QString>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

using namespace cli;

namespace {

const char* const kMainHelp =
    "Usage: quillmark-tool COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  report CAPTURE OUTPUT   convert a raw capture file into a decimal report\n"
    "  fit SAMPLES.csv         fit the sin/cos ellipse to cos,sin samples\n"
    "  configure, read, eeprom, resolution, abs-test, capture, sincos\n"
    "                          box tests (see 'quillmark-tool --simulate --help')\n"
    "  results                 list the results kept by the window and the box tests\n"
    "\n"
    "Run 'quillmark-tool COMMAND --help' for the options of a command.\n"
    "Exit status: 0 success, 1 failure (file or data), 2 bad command line.\n";

const char* const kReportHelp =
    "Usage: quillmark-tool report CAPTURE OUTPUT (--protocol NAME [--widths W1,W2,...]\n"
    "                             [--labels L1,L2,...] | --config FILE.cfg)\n"
    "\n"
    "Converts the box records of CAPTURE into the decimal text report OUTPUT\n"
    "(CR LF line ends). CAPTURE is read piece by piece, so captures of any\n"
    "size convert in little memory. A regular OUTPUT is written beside its final\n"
    "name and renamed into place only when complete; a device such as /dev/null\n"
    "or a FIFO that is being read is written in place. OUTPUT must not be\n"
    "CAPTURE or the configuration file.\n"
    "\n"
    "  --protocol NAME   BISS, SSI, RS485, TTL, RS485+AB, SPI, SPI_CRC, sin_cosine,\n"
    "                    rx_485_only, HTL, ADC_121, Corvane_485, Tarsk_RS485_422,\n"
    "                    ADC_7946 (the last four and rx_485_only give an empty report)\n"
    "  --widths LIST     field widths in bits, 0..64, at most ten; the field count\n"
    "                    is the number of widths (default 15,17,2)\n"
    "  --labels LIST     column labels, at most ten (default St,Error,Warning)\n"
    "  --config FILE     take protocol, widths and labels from a .cfg file instead\n";

const char* const kFitHelp =
    "Usage: quillmark-tool fit SAMPLES.csv\n"
    "\n"
    "Fits an ellipse to the first 1600 (cos, sin) pairs of SAMPLES.csv, one pair\n"
    "per line in volts: exactly two finite numbers separated by a comma, with a\n"
    "point as the decimal mark (a first line that is not a pair is a header), and\n"
    "prints the centres, the axis lengths and the phase difference with three\n"
    "decimals. Fails when fewer than 1600 pairs are present or the tracks give\n"
    "no ellipse (for example tracks in phase).\n";

// A sample file of 1600 pairs is some tens of kilobytes; anything beyond
// this is not a sample file the fit could use.
constexpr std::int64_t kMaxSamplesFileBytes = 64 * 1024 * 1024;

void fail(const QString& message)
{
    std::fprintf(stderr, "quillmark-tool: %s\n", message.toLocal8Bit().constData());
}

int failWith(const Failure& f)
{
    fail(f.message);
    return f.status;
}

bool isHelp(const char* arg)
{
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

QStringList argumentList(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

int runReport(int argc, char** argv)
{
    ReportOptions o;
    if (std::optional<Failure> f = parseReportArguments(argumentList(argc, argv), o))
        return failWith(*f);
    if (o.help) {
        std::fputs(kReportHelp, stdout);
        return kOk;
    }

    DecimalReportSettings s;
    std::optional<fileio::FileIdentity> configIdentity;
    if (o.protocol) {
        if (std::optional<Failure> f = settingsFromOptions(o, s))
            return failWith(*f);
    } else {
        const ConfigRecordFile cfg = readConfigRecordFile(*o.config);
        if (!cfg.record) {
            fail(QStringLiteral("cannot read configuration file: %1").arg(cfg.error));
            return kFailed;
        }
        if (std::optional<Failure> f = settingsFromConfig(*cfg.record, *o.config, s))
            return failWith(*f);
        configIdentity = fileio::identityOf(*o.config);
    }

    QString error;
    fileio::InputFile capture;
    if (!capture.open(o.capture, &error)) {
        fail(QStringLiteral("cannot read capture file: %1").arg(error));
        return kFailed;
    }
    // The output must never be one of the inputs: writing it would destroy
    // the data it is made from.
    if (configIdentity && fileio::identityOf(o.output) == configIdentity) {
        fail(QStringLiteral("cannot write '%1': it is the configuration file; the output must be another file")
                 .arg(o.output));
        return kFailed;
    }
    fileio::OutputFile out;
    if (!out.open(o.output, &error, capture.identity())) {
        fail(QStringLiteral("cannot write report: %1").arg(error));
        return kFailed;
    }

    const ReportStreamError r = streamDecimalReport(capture, out, s);
    if (r.side == ReportStreamError::Side::Capture) {
        out.cancel();
        fail(QStringLiteral("cannot read capture file: %1").arg(r.text));
        return kFailed;
    }
    if (!r.ok() || !out.commit(&error)) {
        out.cancel();
        fail(QStringLiteral("cannot write report: %1").arg(r.ok() ? error : r.text));
        return kFailed;
    }
    return kOk;
}

int runFit(int argc, char** argv)
{
    QStringList positional;
    for (int i = 0; i < argc; ++i) {
        if (isHelp(argv[i])) {
            std::fputs(kFitHelp, stdout);
            return kOk;
        }
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith("--")) {
            fail(QStringLiteral("unknown option '%1' (see 'quillmark-tool fit --help')").arg(arg));
            return kUsage;
        }
        positional << arg;
    }
    if (positional.size() != 1) {
        fail(QStringLiteral("fit needs one SAMPLES.csv (see 'quillmark-tool fit --help')"));
        return kUsage;
    }
    const QString& path = positional[0];
    QString error;
    const std::optional<QByteArray> bytes = fileio::readBounded(path, kMaxSamplesFileBytes + 1, &error);
    if (!bytes) {
        fail(QStringLiteral("cannot read samples file: %1").arg(error));
        return kFailed;
    }
    if (bytes->size() > kMaxSamplesFileBytes) {
        fail(QStringLiteral("'%1' is larger than %2 MiB; that is no sample file")
                 .arg(path)
                 .arg(kMaxSamplesFileBytes / (1024 * 1024)));
        return kFailed;
    }

    SampleTable table;
    CsvError csvError;
    constexpr std::size_t kPairs = static_cast<std::size_t>(SinCosEllipseFit::kSampleCount);
    if (!parseSamplesCsv(*bytes, kPairs, table, csvError)) {
        fail(QStringLiteral("%1:%2: %3").arg(path).arg(csvError.line).arg(csvError.message));
        return kFailed;
    }
    if (table.pairs < kPairs) {
        fail(QStringLiteral("%1: the fit needs %2 sample pairs, found %3").arg(path).arg(kPairs).arg(table.pairs));
        return kFailed;
    }
    const EllipseFitResult r = SinCosEllipseFit::fit(table.cos, table.sin);
    // Numbers that are not finite are no result: nothing is printed.
    if (!r.solved || !r.allFinite()) {
        fail(QStringLiteral("the samples give no ellipse (singular fit, for example tracks in phase)"));
        return kFailed;
    }
    std::printf("cosCentre    %.3f\n", r.cosCentre);
    std::printf("sinCentre    %.3f\n", r.sinCentre);
    std::printf("majorAxis    %.3f\n", r.majorAxis);
    std::printf("minorAxis    %.3f\n", r.minorAxis);
    std::printf("phaseDegrees %.3f\n", r.phaseDegrees);
    return kOk;
}

int run(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(kMainHelp, stderr);
        return kUsage;
    }
    if (isHeadlessInvocation(argc, argv))
        return runHeadless(argc, argv);
    if (isHelp(argv[1])) {
        std::fputs(kMainHelp, stdout);
        return kOk;
    }
    if (std::strcmp(argv[1], "report") == 0)
        return runReport(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "fit") == 0)
        return runFit(argc - 2, argv + 2);
    fail(QStringLiteral("unknown command '%1' (see 'quillmark-tool --help')").arg(QString::fromLocal8Bit(argv[1])));
    return kUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    // A reader of a pipe output that goes away gives a write error, not a
    // silent death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        fail(QStringLiteral("out of memory"));
        return kFailed;
    }
}
