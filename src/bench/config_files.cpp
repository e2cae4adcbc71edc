#include "bench/config_files.h"

#include "bench/frame_display.h"
#include "bench/settings_editor.h"
#include "measure/config_record.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QStringList kConfigFilters{"(*.cfg) (*.cfg)", "Word(*.doc) (*.doc)", "all(*.*) (*.*)"};

// Selects the list entry of a stored protocol code and sets the frequency
// texts that the code implies. Unknown codes select nothing.
void selectProtocolForCode(BenchContext& ctx, int code)
{
    const auto protocol = protocolForCode(code);
    if (!protocol)
        return;
    ctx.state.updateSettings([&](InterfaceSettings& s) { s.protocol = static_cast<int>(*protocol); });
    ctx.view.setCurrentIndex(Control::Protocols, static_cast<int>(*protocol));
    QString frequency;
    if (code == 2 || code == 4 || code == 10)
        frequency = "2.5MHZ";
    else if (code == 11)
        frequency = "19200HZ";
    if (!frequency.isEmpty()) {
        ctx.state.updateSettings([&](InterfaceSettings& s) { s.frequencyText = frequency; });
        ctx.view.setText(Control::FrequencyText, frequency);
    }
}

}  // namespace

QString ConfigFiles::writeConfigRecord(const QString& path)
{
    // Written beside the target and renamed into place for a regular file;
    // a device or FIFO at the path is never replaced.
    return writeConfigRecordFile(path, configRecordValuesOf(ctx_.settings()));
}

QString ConfigFiles::loadConfigRecord(const QString& path)
{
    BenchView& view = ctx_.view;
    BenchState& st = ctx_.state;
    // Regular files only, never blocking on a FIFO; a longer file from
    // elsewhere loads its first 512 bytes. The error names the cause.
    const ConfigRecordFile file = readConfigRecordFile(path, true);
    if (!file.record)
        return file.error;
    const ConfigRecordValues& r = *file.record;

    st.updateSettings([&](InterfaceSettings& s) { s.protocolCode = r.protocolCode; });
    selectProtocolForCode(ctx_, r.protocolCode);

    st.updateSettings([&](InterfaceSettings& s) {
        s.fieldWidth = r.fieldWidth;
        s.fieldCount = static_cast<unsigned>(r.fieldCount);
    });
    for (int k = 1; k <= kFieldCount; ++k)
        ctx_.showEditText(fieldWidthControl(k), QString::number(r.fieldWidth[k - 1]));
    ctx_.showEditText(Control::ContentCount, QString::number(r.fieldCount));

    editor_.takeEdits();
    editor_.applyProtocol();

    st.updateSettings([&](InterfaceSettings& s) { s.turnMode = r.turnMode; });
    view.setCurrentIndex(Control::TurnList, r.turnMode == 1 ? 1 : 0);
    // Only BISS and SSI have a clock menu; for the others the protocol has
    // already greyed the items and set its own frequency text, which a
    // check mark on a greyed item would contradict. A code that no menu item
    // has is still the code the box gets.
    const bool clockMenu = ctx_.settings().modes.syncSerialMode;
    st.updateSettings([&](InterfaceSettings& s) { s.clockCode = r.clockCode; });
    for (const auto& c : kClockItems) {
        if (c.code != r.clockCode || !clockMenu)
            continue;
        editor_.markClockItem(c.item);
        st.updateSettings([&](InterfaceSettings& s) { s.frequencyText = c.caption; });
        view.setText(Control::FrequencyText, c.caption);
    }

    selectProtocolForCode(ctx_, r.protocolCode);

    st.updateSettings([&](InterfaceSettings& s) { s.gaugeField = r.gaugeField; });
    ctx_.showEditText(Control::GaugeField, QString::number(r.gaugeField));
    display_.decodeFrame(st.lastRawFrame.load());

    st.updateSettings([&](InterfaceSettings& s) { s.fieldLabel = r.fieldLabel; });
    for (int k = 1; k <= kFieldCount; ++k)
        ctx_.showEditText(fieldLabelControl(k), r.fieldLabel[k - 1]);
    st.updateSettings([&](InterfaceSettings& s) { s.description = r.description; });
    ctx_.showEditText(Control::Description, r.description);

    editor_.showCodeMode(r.codeMode == 128 ? 128 : 0);
    ctx_.stopAll();
    editor_.writeToControls();
    return {};
}

void ConfigFiles::save()
{
    ctx_.stopAll();
    if (!editor_.takeEdits())
        return;
    editor_.refreshFieldLayout();
    BenchState& st = ctx_.state;
    ++st.fileCounter;
    FileDialogRequest request{"FileName" + QString::number(st.fileCounter), "doc", kConfigFilters, {}};
    const QString path = ctx_.view.saveFileName(request);
    if (path.isEmpty())
        return;
    const QString error = writeConfigRecord(path);
    if (!error.isEmpty())
        ctx_.view.showMessage(error);
}

void ConfigFiles::load()
{
    ctx_.stopAll();
    BenchState& st = ctx_.state;
    ++st.fileCounter;
    FileDialogRequest request{"FileName" + QString::number(st.fileCounter), "doc", kConfigFilters, {}};
    const QString path = ctx_.view.openFileName(request);
    if (path.isEmpty())
        return;
    const QString error = loadConfigRecord(path);
    if (!error.isEmpty())
        ctx_.view.showMessage(error);
    ctx_.view.repaintWindow();
}

bool ConfigFiles::loadAtStartUp()
{
    ctx_.stopAll();
    // No folder or no file yet: a first start, nothing to say.
    if (!QFileInfo(directory_).isDir() || !QFileInfo::exists(defaultPath()))
        return false;
    loadConfigRecord(defaultPath());
    ctx_.view.setText(Control::Angle, "");
    ctx_.view.repaintWindow();
    return true;
}

void ConfigFiles::writeAtClose()
{
    QDir().mkpath(directory_);
    editor_.refreshFieldLayout();
    const QString error = writeConfigRecord(defaultPath());
    if (!error.isEmpty())
        ctx_.view.showMessage(QStringLiteral("The settings could not be kept for the next start. %1").arg(error));
}
