#pragma once
// The sample file of "quillmark-tool fit": one "cos,sin" pair of volts per
// line. Pure, so that it can be fuzzed.
#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <vector>

namespace cli {

struct SampleTable {
    std::vector<double> cos;  // the first maxPairs pairs
    std::vector<double> sin;
    std::size_t pairs = 0;    // every pair in the file
};

struct CsvError {
    int line = 0;  // 1-based
    QString message;
};

// Every non-blank line must hold exactly two finite numbers separated by a
// comma, with a point as the decimal mark (a decimal comma gives four fields
// and is refused). The first line may be a header: it is skipped when it is
// not a pair of numbers. Lines end in LF or CR LF. Only the first `maxPairs`
// pairs are kept; later lines are still checked.
bool parseSamplesCsv(QByteArrayView text, std::size_t maxPairs, SampleTable& table, CsvError& error);

}  // namespace cli
