#pragma once
// The "Results" window: the recent results of this bench (the serial's, or
// every serial's), the chosen one's figures, both verdicts and plots, and
// the serial's report as HTML or PDF and the accuracy trace as CSV. What it
// shows comes from the results store and the session's own results, never
// from another window's widgets.
#include "report/results_browser.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class ResultsWindow;
}

struct ResultsSource {
    std::function<std::vector<ResultRow>()> session;  // this bench's results, newest last
    QString storePath;                                 // the bench's results.sqlite; empty: none
};

class ResultsWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr int kShown = 100;  // results in the list

    ResultsWindow(ResultsSource source, const QString& serial, QWidget* parent = nullptr);
    ~ResultsWindow() override;

    // A test has just ended: lists again and shows the newest result.
    void showLatest();
    // Lists again, keeping the chosen result when it is still there.
    void refresh();
    std::optional<ResultRow> chosen() const;
    QString serial() const;
    void setSerial(const QString& serial);

    // The commands behind the buttons.
    void writeReport(ReportFormat format);
    void exportAccuracyCsv();

    // How the window asks for a file and says what went wrong; tests answer
    // them. askPath gets a caption, a suggested path and a filter and gives
    // the chosen path or nothing.
    std::function<QString(const QString&, const QString&, const QString&)> askPath;
    std::function<void(const QString&)> tell;

private:
    void list(const QString& keepUid);
    void display(const std::optional<ResultRow>& row);
    QString suggestedPath(const QString& name) const;

    std::unique_ptr<Ui::ResultsWindow> ui_;
    ResultsSource source_;
    std::vector<ResultRow> rows_;  // as listed, newest first
};
