#include "measure/report_stream.h"

#include <vector>

namespace {

constexpr std::int64_t kPieceBytes = 1024 * 1024;

}  // namespace

ReportStreamError streamDecimalReport(fileio::InputFile& capture, fileio::OutputFile& report,
                                      const DecimalReportSettings& settings)
{
    ReportStreamError failure;
    DecimalReportWriter writer(settings, [&](const char* data, std::size_t size) {
        QString error;
        if (failure.ok() && !report.write(data, static_cast<std::int64_t>(size), &error))
            failure = {ReportStreamError::Side::Report, error};
    });
    std::vector<char> piece(static_cast<std::size_t>(kPieceBytes));
    while (failure.ok()) {
        QString error;
        const std::int64_t n = capture.read(piece.data(), kPieceBytes, &error);
        if (n < 0)
            return {ReportStreamError::Side::Capture, error};
        if (n == 0)
            break;
        writer.write(std::span(reinterpret_cast<const std::uint8_t*>(piece.data()), static_cast<std::size_t>(n)));
    }
    writer.finish();
    return failure;
}
