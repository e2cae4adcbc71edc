#include "app/results_window.h"

#include "common/file_io.h"
#include "report/plots.h"
#include "ui_results_window.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>

namespace {

QString verdictHtml(const QString& v)
{
    if (v.isEmpty())
        return QStringLiteral("<span style=\"color:#777\">–</span>");
    const char* colour = v == QLatin1String("pass") ? "#11772e" : v == QLatin1String("fail") ? "#b31b1b" : "#222";
    return QStringLiteral("<b style=\"color:%1\">%2</b>").arg(QLatin1String(colour), v.toHtmlEscaped());
}

}  // namespace

ResultsWindow::ResultsWindow(ResultsSource source, const QString& serial, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ResultsWindow>()), source_(std::move(source))
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    ui_->splitter->setStretchFactor(1, 1);
    ui_->splitter->setSizes({400, 680});
    ui_->serialEdit->setText(serial);
    QFont title = ui_->titleLabel->font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.15);
    ui_->titleLabel->setFont(title);

    askPath = [this](const QString& caption, const QString& suggested, const QString& filter) {
        return QFileDialog::getSaveFileName(this, caption, suggested, filter);
    };
    tell = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };

    connect(ui_->refreshButton, &QPushButton::clicked, this, &ResultsWindow::refresh);
    connect(ui_->serialEdit, &QLineEdit::returnPressed, this, &ResultsWindow::refresh);
    connect(ui_->serialEdit, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (t.isEmpty())
            refresh();  // the clear button: every serial
    });
    connect(ui_->resultsList, &QTreeWidget::currentItemChanged, this, [this] { display(chosen()); });
    connect(ui_->htmlButton, &QPushButton::clicked, this, [this] { writeReport(ReportFormat::Html); });
    connect(ui_->pdfButton, &QPushButton::clicked, this, [this] { writeReport(ReportFormat::Pdf); });
    connect(ui_->csvButton, &QPushButton::clicked, this, &ResultsWindow::exportAccuracyCsv);
    connect(ui_->closeButton, &QPushButton::clicked, this, &QDialog::close);
    list({});
    ui_->resultsList->setFocus();
}

ResultsWindow::~ResultsWindow() = default;

QString ResultsWindow::serial() const
{
    return ui_->serialEdit->text().trimmed();
}

void ResultsWindow::setSerial(const QString& serial)
{
    ui_->serialEdit->setText(serial);
}

void ResultsWindow::showLatest()
{
    list({});
}

void ResultsWindow::refresh()
{
    const std::optional<ResultRow> now = chosen();
    list(now ? now->uid : QString());
}

std::optional<ResultRow> ResultsWindow::chosen() const
{
    const int row = ui_->resultsList->indexOfTopLevelItem(ui_->resultsList->currentItem());
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return std::nullopt;
    return rows_[static_cast<std::size_t>(row)];
}

void ResultsWindow::list(const QString& keepUid)
{
    QString error;
    const std::vector<ResultRow> session = source_.session ? source_.session() : std::vector<ResultRow>{};
    const std::vector<ResultRow> stored =
        source_.storePath.isEmpty() ? std::vector<ResultRow>{} : storedResults(source_.storePath, serial(), kShown, &error);
    rows_ = resultChoices(session, stored, serial(), kShown);

    const QSignalBlocker quiet(ui_->resultsList);
    ui_->resultsList->clear();
    int keep = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        auto* item = new QTreeWidgetItem(ui_->resultsList, choiceColumns(rows_[i]));
        for (int column : {3, 4})
            if (item->text(column) == kVerdictFail)
                item->setForeground(column, QColor(179, 27, 27));
        if (rows_[i].uid == keepUid)
            keep = static_cast<int>(i);
    }
    ui_->countLabel->setText(rows_.empty() ? QString()
                                           : QStringLiteral("%1 result%2").arg(rows_.size()).arg(rows_.size() == 1 ? "" : "s"));
    if (!error.isEmpty())
        ui_->statusLabel->setText(QStringLiteral("The stored results cannot be read: %1").arg(error));
    for (int c = 0; c < ui_->resultsList->columnCount(); ++c)
        ui_->resultsList->resizeColumnToContents(c);
    if (!rows_.empty())
        ui_->resultsList->setCurrentItem(ui_->resultsList->topLevelItem(keep));
    display(chosen());
}

void ResultsWindow::display(const std::optional<ResultRow>& row)
{
    ui_->csvButton->setEnabled(row && row->command == QLatin1String("abs-test") && !row->trace.isEmpty());
    if (!row) {
        ui_->titleLabel->setText(serial().isEmpty() ? QStringLiteral("No results yet")
                                                    : QStringLiteral("No results for serial %1").arg(serial()));
        for (QLabel* l : {ui_->figuresLabel, ui_->verdictLabel, ui_->limitsLabel, ui_->planVerdictLabel})
            l->clear();
        ui_->plotView->setPlots({}, QStringLiteral("A finished test shows here with its plots."));
        return;
    }
    const ReportEntry e = resultEntry(*row);
    ui_->titleLabel->setText(QStringLiteral("%1 — %2, %3 on %4%5")
                                 .arg(e.test, row->serial.isEmpty() ? QStringLiteral("no serial") : row->serial,
                                      row->timeUtc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                      row->station, e.simulated ? QStringLiteral(" (simulated box)") : QString()));
    ui_->figuresLabel->setText(e.figures);
    ui_->verdictLabel->setText(verdictHtml(row->verdict));
    ui_->limitsLabel->setText(e.limits.isEmpty() ? QStringLiteral("no plan for this test") : e.limits);
    QString plan = verdictHtml(e.planVerdict);
    for (const QString& f : e.planFailed)
        plan += QStringLiteral("<br>missed: ") + f.toHtmlEscaped();
    ui_->planVerdictLabel->setText(plan);
    ui_->plotView->setPlots(entryPlots(e), row->trace.isEmpty() ? QStringLiteral("This test kept nothing to plot.")
                                                                : QStringLiteral("This trace cannot be read."));
}

QString ResultsWindow::suggestedPath(const QString& name) const
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QDir::homePath();
    return QDir(dir).filePath(name);
}

void ResultsWindow::writeReport(ReportFormat format)
{
    const std::optional<ResultRow> row = chosen();
    const QString who = row ? row->serial : serial();
    QString error;
    const std::vector<ResultRow> rows = serialRows(source_.session ? source_.session() : std::vector<ResultRow>{},
                                                   source_.storePath, who, &error);
    if (rows.empty()) {
        tell(who.isEmpty() ? QStringLiteral("There are no results to report: type the encoder's serial under "
                                            "\"Description:\" before its tests, or choose a result.")
                           : QStringLiteral("There are no test results for serial %1.%2")
                                 .arg(who, error.isEmpty() ? QString() : QStringLiteral("\n") + error));
        return;
    }
    const bool pdf = format == ReportFormat::Pdf;
    const QString path = askPath(pdf ? QStringLiteral("Save the test report as PDF")
                                     : QStringLiteral("Save the test report as HTML"),
                                 suggestedPath(fileNameFor(QStringLiteral("report"), who,
                                                           pdf ? QStringLiteral(".pdf") : QStringLiteral(".html"))),
                                 pdf ? QStringLiteral("PDF files (*.pdf)") : QStringLiteral("HTML files (*.html *.htm)"));
    if (path.isEmpty())
        return;
    error = writeSerialReport(who, rows, format, path);
    if (!error.isEmpty()) {
        tell(QStringLiteral("The report cannot be written. %1").arg(error));
        return;
    }
    ui_->statusLabel->setText(QStringLiteral("Report written: %1").arg(QDir::toNativeSeparators(path)));
}

void ResultsWindow::exportAccuracyCsv()
{
    const std::optional<ResultRow> row = chosen();
    if (!row) {
        tell(QStringLiteral("Choose an absolute accuracy result first."));
        return;
    }
    QString error;
    const std::optional<QByteArray> csv = accuracyCsvOf(*row, &error);
    if (!csv) {
        tell(error);
        return;
    }
    const QString path =
        askPath(QStringLiteral("Save the accuracy trace as CSV"),
                suggestedPath(fileNameFor(QStringLiteral("accuracy"), row->serial,
                                          row->timeUtc.toLocalTime().toString(QStringLiteral("-yyyyMMdd-HHmmss")) +
                                              QStringLiteral(".csv"))),
                QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    if (!fileio::writeFileSafely(path, *csv, &error)) {
        tell(QStringLiteral("The trace cannot be written. %1").arg(error));
        return;
    }
    ui_->statusLabel->setText(QStringLiteral("Trace written: %1").arg(QDir::toNativeSeparators(path)));
}
