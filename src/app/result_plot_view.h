#pragma once
// The plots of one result side by side, each scaled to the space it gets
// with its shape kept; a line of text when there are none.
#include "report/test_report.h"

#include <QWidget>
#include <vector>

class ResultPlotView : public QWidget {
    Q_OBJECT
public:
    explicit ResultPlotView(QWidget* parent = nullptr);

    void setPlots(std::vector<ReportPlot> plots, const QString& emptyText = {});
    const std::vector<ReportPlot>& plots() const { return plots_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<ReportPlot> plots_;
    QString emptyText_;
};
