// The report command line of quillmark-tool: any arguments (NUL-separated in
// the input) parse to options or a failure; options give settings whose widths
// the box can take and whose masks follow from them.
#include "fuzz_input.h"
#include "tool/report_options.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const char* const kWords[] = {"--protocol", "--widths", "--labels", "--config", "--help",
                                         "BISS",       "SPI",      "TTL",      "15,17,2",  "64,0"};
    QStringList args;
    QByteArray current;
    for (std::size_t i = 0; i < size; ++i) {
        // Bytes 0xF0..0xF9 stand for the option words, so that the fuzzer
        // reaches past the unknown-option check.
        if (data[i] >= 0xF0 && data[i] <= 0xF9) {
            args << QString::fromLatin1(kWords[data[i] - 0xF0]);
        } else if (data[i] == 0) {
            args << QString::fromLocal8Bit(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.isEmpty())
        args << QString::fromLocal8Bit(current);

    cli::ReportOptions o;
    const std::optional<cli::Failure> f = cli::parseReportArguments(args, o);
    if (f) {
        FUZZ_CHECK(f->status == cli::kUsage && !f->message.isEmpty());
        return 0;
    }
    if (o.help || !o.protocol)
        return 0;
    FUZZ_CHECK(!o.capture.isEmpty() && !o.output.isEmpty() && !o.config);
    DecimalReportSettings s;
    if (cli::settingsFromOptions(o, s))
        return 0;
    FUZZ_CHECK(s.fieldCount <= 10);
    for (int k = 0; k < 10; ++k) {
        FUZZ_CHECK(s.fieldWidth[k] >= 0 && s.fieldWidth[k] <= 64);
        FUZZ_CHECK(s.fieldMask[k] == fieldMaskForWidth(s.fieldWidth[k]));
    }
    return 0;
}
