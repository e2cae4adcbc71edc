// The sample file of quillmark-tool fit: any bytes parse to finite pairs or a
// failure that names a line of the file.
#include "fuzz_input.h"
#include "tool/samples_csv.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::size_t keep = size % 5;
    cli::SampleTable t;
    cli::CsvError e;
    if (!cli::parseSamplesCsv(text, keep, t, e)) {
        FUZZ_CHECK(e.line >= 1 && e.line <= text.count('\n') + 1);
        FUZZ_CHECK(!e.message.isEmpty());
        return 0;
    }
    FUZZ_CHECK(t.cos.size() == std::min(t.pairs, keep) && t.sin.size() == t.cos.size());
    for (std::size_t k = 0; k < t.cos.size(); ++k)
        FUZZ_CHECK(std::isfinite(t.cos[k]) && std::isfinite(t.sin[k]));
    FUZZ_CHECK(t.pairs <= static_cast<std::size_t>(text.count('\n')) + 1);
    return 0;
}
