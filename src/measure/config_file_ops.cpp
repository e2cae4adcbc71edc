#include "measure/config_file_ops.h"

#include "app/bench.h"
#include "interface/frame_display.h"
#include "interface/settings_ops.h"
#include "measure/config_record.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QStringList kConfigFilters{"(*.cfg) (*.cfg)", "Word(*.doc) (*.doc)", "all(*.*) (*.*)"};

// Selects the list entry of a stored protocol code and sets the frequency
// texts that the code implies. Unknown codes select nothing.
void selectProtocolForCode(Bench& bench, int code)
{
    const auto protocol = protocolForCode(code);
    if (!protocol)
        return;
    bench.view().setCurrentIndex(Control::Protocols, static_cast<int>(*protocol));
    QString frequency;
    if (code == 2 || code == 4 || code == 10)
        frequency = "2.5MHZ";
    else if (code == 11)
        frequency = "19200HZ";
    if (!frequency.isEmpty()) {
        bench.state().updateSettings([&](InterfaceSettings& s) { s.frequencyText = frequency; });
        bench.view().setText(Control::FrequencyText, frequency);
    }
}

}  // namespace

QString ConfigFileOps::writeConfigRecord(const QString& path)
{
    const InterfaceSettings& s = bench_.state().settings();
    ConfigRecordValues v;
    v.protocolCode = s.protocolCode;
    v.fieldWidth = s.fieldWidth;
    v.fieldCount = static_cast<int>(s.fieldCount);
    v.clockCode = s.clockCode;
    v.turnMode = s.turnMode;
    v.gaugeField = s.gaugeField;
    for (int k = 1; k <= kFieldCount; ++k)
        v.fieldLabel[k - 1] = bench_.view().text(fieldLabelControl(k));
    v.description = bench_.view().text(Control::Description);
    v.codeMode = s.codeMode;

    ConfigRecordBytes bytes{};
    if (auto error = encodeConfigRecord(v, bytes))
        return *error;
    // Written beside the target and renamed into place: a failed write never
    // leaves a half-written configuration behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    if (!file.commit())
        return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    return {};
}

bool ConfigFileOps::loadConfigRecord(const QString& path)
{
    Bench& b = bench_;
    BenchView& view = b.view();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // One byte more than a record, so that a longer file is seen as such.
    const QByteArray data = file.read(static_cast<qint64>(kConfigRecordSize) + 1);
    file.close();
    const auto record = decodeConfigRecord(
        std::span(reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())));
    if (!record)
        return false;
    const ConfigRecordValues& r = *record;

    b.state().updateSettings([&](InterfaceSettings& s) { s.protocolCode = r.protocolCode; });
    selectProtocolForCode(b, r.protocolCode);

    b.state().updateSettings([&](InterfaceSettings& s) {
        s.fieldWidth = r.fieldWidth;
        s.fieldCount = static_cast<unsigned>(r.fieldCount);
    });
    for (int k = 1; k <= kFieldCount; ++k)
        view.setText(fieldWidthControl(k), QString::number(r.fieldWidth[k - 1]));
    view.setText(Control::ContentCount, QString::number(r.fieldCount));

    InterfaceSettingsOps& ops = b.settingsOps();
    ops.readFromControls();
    ops.applyProtocol();

    b.state().updateSettings([&](InterfaceSettings& s) { s.turnMode = r.turnMode; });
    view.setCurrentIndex(Control::TurnList, r.turnMode == 1 ? 1 : 0);
    // Only BISS and SSI have a clock menu; for the others the protocol has
    // already greyed the items and set its own frequency text, which a
    // check mark on a greyed item would contradict.
    const bool clockMenu = b.state().settings().modes.syncSerialMode;
    for (const auto& c : kClockItems) {
        if (c.code != r.clockCode)
            continue;
        if (!clockMenu) {
            b.state().updateSettings([&](InterfaceSettings& s) { s.clockCode = c.code; });
            continue;
        }
        ops.markClockItem(c.item);
        b.state().updateSettings([&](InterfaceSettings& s) {
            s.clockCode = c.code;
            s.frequencyText = c.caption;
        });
        view.setText(Control::FrequencyText, c.caption);
    }

    selectProtocolForCode(b, r.protocolCode);

    b.state().updateSettings([&](InterfaceSettings& s) { s.gaugeField = r.gaugeField; });
    view.setText(Control::GaugeField, QString::number(r.gaugeField));
    b.decodeFrame(b.state().lastRawFrame.load());

    for (int k = 1; k <= kFieldCount; ++k)
        view.setText(fieldLabelControl(k), r.fieldLabel[k - 1]);
    view.setText(Control::Description, r.description);

    ops.showCodeMode(r.codeMode == 128 ? 128 : 0);
    b.stopAll();
    ops.writeToControls();
    return true;
}

void ConfigFileOps::save()
{
    Bench& b = bench_;
    b.stopAll();
    if (!b.settingsOps().readFromControls())
        return;
    b.settingsOps().refreshFieldLayout();
    BenchState& st = b.state();
    ++st.fileCounter;
    FileDialogRequest request{"FileName" + QString::number(st.fileCounter), "doc", kConfigFilters, {}};
    const QString path = b.view().saveFileName(request);
    if (path.isEmpty())
        return;
    const QString error = writeConfigRecord(path);
    if (!error.isEmpty())
        b.view().showMessage(error);
}

void ConfigFileOps::load()
{
    Bench& b = bench_;
    b.stopAll();
    BenchState& st = b.state();
    ++st.fileCounter;
    FileDialogRequest request{"FileName" + QString::number(st.fileCounter), "doc", kConfigFilters, {}};
    const QString path = b.view().openFileName(request);
    if (path.isEmpty())
        return;
    if (!loadConfigRecord(path))
        b.view().showMessage(QStringLiteral("Cannot load %1: it is not a 512-byte configuration record.")
                                 .arg(QDir::toNativeSeparators(path)));
    b.view().repaintWindow();
}

void ConfigFileOps::loadAtStartUp()
{
    bench_.stopAll();
    if (!QFileInfo(bench_.configDirectory()).isDir())
        return;
    loadConfigRecord(bench_.defaultConfigPath());
    bench_.view().setText(Control::Angle, "");
    bench_.view().repaintWindow();
}

void ConfigFileOps::writeAtClose()
{
    // Failures here are not reported: the window closes regardless.
    QDir().mkpath(bench_.configDirectory());
    bench_.settingsOps().refreshFieldLayout();
    writeConfigRecord(bench_.defaultConfigPath());
}
