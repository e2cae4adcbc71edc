#include "bench/capture_fate.h"

#include "bench/capture.h"
#include "common/file_io.h"
#include "measure/capture_files.h"
#include "measure/decimal_report.h"
#include "measure/report_stream.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString kMsgNotSaved = QStringLiteral("The capture could not be saved (%1); it is kept in %2");
const QString kMsgReportFailed =
    QStringLiteral("The decimal report could not be written (%1); the capture is kept in %2");
const QString kMsgNoReport =
    QStringLiteral("This protocol has no decimal report; the capture is kept in %1");

DecimalReportSettings reportSettingsOf(const InterfaceSettings& s)
{
    DecimalReportSettings r;
    r.modes = s.modes;
    r.fieldCount = s.fieldCount;
    r.fieldWidth = s.fieldWidth;
    r.fieldMask = s.fieldMask;
    for (std::size_t k = 0; k < r.fieldLabel.size(); ++k)
        r.fieldLabel[k] = s.fieldLabel[k].toStdString();
    return r;
}

bool samePath(const QString& a, const QString& b)
{
    const QFileInfo fa(a), fb(b);
    if (fa.exists() && fb.exists())
        return fa.canonicalFilePath() == fb.canonicalFilePath();
    return fa.absoluteFilePath() == fb.absoluteFilePath();
}

}  // namespace

void CaptureFate::setDestination(const QString& path)
{
    std::lock_guard lock(mutex_);
    destination_ = path;
}

QString CaptureFate::keepManual(const QString& workingPath, bool decimal)
{
    if (decimal)
        return writeReport(workingPath);
    const QString chosen = chooseTarget();
    if (chosen.isEmpty()) {
        QFile::remove(workingPath);
        return {};
    }
    if (const QString error = moveCaptureInto(workingPath, chosen); !error.isEmpty()) {
        ctx_.view.showMessage(kMsgNotSaved.arg(error, workingPath));
        return {};
    }
    return chosen;
}

QString CaptureFate::writeReport(const QString& workingPath)
{
    BenchView& view = ctx_.view;
    QString error;
    fileio::InputFile in;
    if (!in.open(workingPath, &error)) {
        view.showMessage(kMsgReportFailed.arg(error, workingPath));
        return {};
    }
    const InterfaceSettings settings = ctx_.state.settingsSnapshot();

    const QString chosen = chooseTarget();
    if (chosen.isEmpty()) {
        in.close();
        QFile::remove(workingPath);
        return {};
    }
    // The report streams from the capture into a file beside the target,
    // renamed into place at the end: the working file itself may be chosen.
    fileio::OutputFile out;
    if (!out.open(chosen, &error)) {
        view.showMessage(kMsgReportFailed.arg(error, workingPath));
        return {};
    }
    const ReportStreamError r = streamDecimalReport(in, out, reportSettingsOf(settings));
    in.close();
    if (!r.ok() || !out.commit(&error)) {
        out.cancel();
        view.showMessage(kMsgReportFailed.arg(r.ok() ? error : r.text, workingPath));
        return {};
    }
    if (samePath(chosen, workingPath))
        return chosen;  // the report took the working file's place
    if (reportGroup(settings.modes) == ReportGroup::None) {
        // Receive-only and ADC captures give an empty report; the raw
        // records are the only result and are kept.
        if (const QString kept = keepNumbered(workingPath); !kept.isEmpty())
            view.showMessage(kMsgNoReport.arg(kept));
        return chosen;
    }
    QFile::remove(workingPath);
    return chosen;
}

QString CaptureFate::chooseTarget()
{
    QString given;
    {
        std::lock_guard lock(mutex_);
        given = std::exchange(destination_, QString());
    }
    if (!given.isEmpty())
        return given;
    const int counter = ++ctx_.state.fileCounter;
    return ctx_.view.saveFileName({captureDialogName(counter), "doc", kCaptureFilters, {}});
}

QString CaptureFate::nextNumberedPath()
{
    std::lock_guard lock(mutex_);
    const std::optional<NumberedCapture> next =
        nextNumberedCapture(Capture::captureDirectory(), ctx_.state.fileCounter.load(),
                            [](const QString& p) { return QFileInfo::exists(p); });
    if (!next)
        return {};
    ctx_.state.fileCounter = next->counter;
    return next->path;
}

QString CaptureFate::keepNumbered(const QString& workingPath)
{
    const QString path = nextNumberedPath();
    const QString error = path.isEmpty() ? QStringLiteral("no free file number") : renameCapture(workingPath, path);
    if (!error.isEmpty()) {
        ctx_.view.showMessage(kMsgNotSaved.arg(error, workingPath));
        return {};
    }
    return path;
}
