#include "headless/interface_choice.h"

#include "bench/settings_editor.h"
#include "headless/headless_bench.h"
#include "interface/protocol_table.h"

const QSet<QString> kInterfaceOptions{"protocol", "widths", "labels", "turn", "code",
                                      "crc", "frequency", "gauge-field", "config"};

InterfaceChoice interfaceChoice(const Options& o)
{
    InterfaceChoice c;
    if (o.has("config")) {
        for (const QString& k : kInterfaceOptions)
            if (k != "config" && o.has(k))
                throw UsageError{QStringLiteral("--config and --%1 exclude each other").arg(k)};
        c.config = o.value("config");
        return c;
    }
    if (o.has("protocol")) {
        const QByteArray name = o.value("protocol").toUtf8();
        const auto p = protocolByName(std::string_view(name.constData(), static_cast<std::size_t>(name.size())));
        if (!p) {
            QStringList names;
            for (const auto& info : protocolTable())
                names << QString::fromUtf8(info.name.data(), static_cast<int>(info.name.size()));
            throw UsageError{QStringLiteral("unknown protocol '%1' (one of: %2)").arg(o.value("protocol"), names.join(", "))};
        }
        c.protocol = static_cast<int>(*p);
    }
    if (o.has("widths")) {
        const QStringList w = o.value("widths").split(',');
        if (w.size() > kMaxFields)
            throw UsageError{QStringLiteral("--widths takes at most %1 widths").arg(kMaxFields)};
        for (const QString& s : w) {
            bool ok = false;
            const int v = s.trimmed().toInt(&ok);
            if (!ok || v < 0 || v > kMaxFieldWidth)
                throw UsageError{QStringLiteral("--widths: '%1' is no width of 0 to %2 bits").arg(s).arg(kMaxFieldWidth)};
        }
        c.widths = w;
    }
    if (o.has("labels")) {
        const QStringList l = o.value("labels").split(',');
        if (l.size() > kMaxFields)
            throw UsageError{QStringLiteral("--labels takes at most %1 labels").arg(kMaxFields)};
        c.labels = l;
    }
    if (o.has("turn")) {
        const QString t = o.value("turn");
        if (t != "single" && t != "multi")
            throw UsageError{QStringLiteral("--turn is single or multi")};
        c.turn = t == "multi" ? 1 : 0;
    }
    if (o.has("code")) {
        const QString t = o.value("code");
        if (t != "binary" && t != "gray")
            throw UsageError{QStringLiteral("--code is binary or gray")};
        c.code = t == "gray" ? Control::MenuGray : Control::MenuBinary;
    }
    if (o.has("crc")) {
        const QString t = o.value("crc");
        if (t != "inverted" && t != "notinverted")
            throw UsageError{QStringLiteral("--crc is inverted or notinverted")};
        c.crc = t == "notinverted" ? 1 : 0;
    }
    if (o.has("frequency")) {
        const QString t = o.value("frequency").trimmed().toUpper();
        const Control items[] = {Control::MenuClock9_6, Control::MenuClock4_8, Control::MenuClock2_4,
                                 Control::MenuClock1_2};
        for (std::size_t i = 0; i < kClockItems.size(); ++i) {
            const QString label = QString::fromLatin1(kClockItems[i].caption).toUpper();
            if (t == label || t + "Z" == label || t + "MHZ" == label)
                c.clock = items[i];
        }
        if (!c.clock)
            throw UsageError{QStringLiteral("--frequency is one of 9.6MHZ, 4.8MHZ, 2.4MHZ, 1.2MHZ")};
    }
    if (c.protocol) {
        // The window disables these lists for protocols without the choice.
        const ProtocolInfo& info = protocolTable()[static_cast<std::size_t>(*c.protocol)];
        if (c.crc && !info.crcListEnabled)
            throw UsageError{QStringLiteral("--crc: %1 has no CRC choice").arg(o.value("protocol"))};
        if (c.turn == 1 && !info.turnListEnabled)
            throw UsageError{QStringLiteral("--turn: %1 is single-turn only").arg(o.value("protocol"))};
    }
    if (o.has("gauge-field")) {
        o.integer("gauge-field", 0, kMaxFields);
        c.gaugeField = o.value("gauge-field").trimmed();
    }
    return c;
}

bool applyInterface(HeadlessBench& hb, const InterfaceChoice& c)
{
    bool ok = true;
    hb.run([&](Bench& b) {
        if (c.config) {
            const int before = static_cast<int>(hb.view.messages().size());
            hb.view.setFileAnswer(*c.config);
            b.onCommand(Command::LoadConfigFile);
            hb.view.setFileAnswer({});
            ok = hb.view.messages().size() == before;
            return;
        }
        if (c.protocol) {
            hb.view.setCurrentIndex(Control::Protocols, *c.protocol);
            b.onChosen(Control::Protocols, *c.protocol);
        }
        if (c.widths) {
            const QStringList& w = *c.widths;
            b.onEdited(Control::ContentCount, QString::number(w.size()));
            hb.view.setText(Control::ContentCount, QString::number(w.size()));
            for (int k = 1; k <= kMaxFields; ++k) {
                const QString text = k <= w.size() ? w[k - 1].trimmed() : QStringLiteral("0");
                hb.view.setText(fieldWidthControl(k), text);
                b.onEdited(fieldWidthControl(k), text);
            }
        }
        if (c.labels) {
            for (int k = 1; k <= c.labels->size(); ++k) {
                hb.view.setText(fieldLabelControl(k), (*c.labels)[k - 1]);
                b.onEdited(fieldLabelControl(k), (*c.labels)[k - 1]);
            }
        }
        if (c.turn) {
            hb.view.setCurrentIndex(Control::TurnList, *c.turn);
            b.onChosen(Control::TurnList, *c.turn);
        }
        if (c.crc) {
            hb.view.setCurrentIndex(Control::CrcList, *c.crc);
            b.onChosen(Control::CrcList, *c.crc);
        }
        if (c.code)
            b.onMenuItem(*c.code);
        if (c.clock)
            b.onMenuItem(*c.clock);
        if (c.gaugeField) {
            hb.view.setText(Control::GaugeField, *c.gaugeField);
            b.onEdited(Control::GaugeField, *c.gaugeField);
        }
    });
    return ok;
}

