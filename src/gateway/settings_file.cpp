#include "gateway/settings_file.h"

#include <QFile>

#include "base/whole_file.h"
// The values are UTF-8 byte strings throughout; no wide-character API is needed.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION  // the templates are instantiated here, not taken from the library
#include <SimpleIni.h>

namespace tarnel {
namespace {

using Type = SettingKey::Type;

QByteArray utf8(const QString& text) {
    return text.toUtf8();
}

constexpr qint64 kMaxSettingsBytes = SettingsFile::kMaxBytes;

// Lines holding a NUL byte are taken out (the INI reader would end the
// file at the first one); the number of the first such line, 0 when none.
int dropLinesWithNul(QByteArray& content) {
    int first = 0;
    QByteArray kept;
    const QList<QByteArray> lines = content.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines[i].contains('\0')) {
            kept += lines[i] + (i + 1 < lines.size() ? "\n" : "");
        } else if (first == 0) {
            first = static_cast<int>(i) + 1;
        }
    }
    if (first != 0) content = kept;
    return first;
}

// False when there is nothing to read: no file, or one too large; a file
// that is not read as it stands adds a line to `problems`.
bool loadIni(CSimpleIniA& ini, const QString& path, QStringList* problems = nullptr) {
    QFile file;
    if (!OpenForReading(file, path)) return false;
    QByteArray content = file.read(kMaxSettingsBytes + 1);
    if (content.size() > kMaxSettingsBytes) {
        if (problems)
            *problems << QStringLiteral("Settings file %1 not read: it is larger than 1 MB.")
                             .arg(path);
        return false;
    }
    if (const int line = dropLinesWithNul(content); line != 0 && problems)
        *problems << QStringLiteral("Settings file %1: line %2 holds a NUL byte and is not read.")
                         .arg(path)
                         .arg(line);
    return ini.LoadData(content.constData(), static_cast<size_t>(content.size())) >= 0;
}

bool tooLarge(const QString& path) {
    QFile file;
    return OpenForReading(file, path) && file.read(kMaxSettingsBytes + 1).size() > kMaxSettingsBytes;
}

// A value as the control takes it: integers and booleans that do not parse
// fall back to the default, as a missing key does.
QString normalised(const SettingKey& key, const QString& raw) {
    if (key.type == Type::Text) return raw;
    bool ok = false;
    const int number = raw.trimmed().toInt(&ok);
    if (!ok) return key.fallback;
    if (key.type == Type::Boolean) return number != 0 ? QStringLiteral("1") : QStringLiteral("0");
    return QString::number(number);
}

}  // namespace

const std::vector<SettingKey>& settingKeys() {
    static const std::vector<SettingKey> keys = {
        {"Modbus port", "Name", Type::Text, "COM1", "Combo_com2_name"},
        {"Modbus port", "Speed", Type::Text, "19200", "Combo_com2_speed"},
        {"Modbus port", "Parity", Type::Text, "Even", "Combo_com2_parity"},
        {"Modbus port", "SB", Type::Text, "1", "Combo_com2_stop"},
        {"Modbus", "AutoOpen", Type::Boolean, "0", "CB_open_port2"},
        {"Mbus", "Timeout", Type::Integer, "1000", "UD_timeout"},
        {"Mbus", "SearchFrom", Type::Integer, "1", "UDaddressFrom"},
        {"Mbus", "SearchTo", Type::Integer, "5", "UDaddressTo"},
        {"Mbus", "Retry", Type::Integer, "2", "UD_retry"},
        {"Modbus", "Timeout", Type::Integer, "600", "UD_modbusTimeout"},
        {"Modbus", "Address", Type::Integer, "1", "UDmodbusAddress"},
        {"Modbus", "STADDR", Type::Text, "1", "EditInputAddress"},
        {"Modbus", "Count", Type::Text, "125", "EditInputCount"},
        {"Misc", "Dir", Type::Text, "", ""},
        {"TCP", "IP", Type::Text, "192.168.1.3", "Edit_lanxp_ip"},
        {"TCP", "Port", Type::Text, "502", "Edit_lanxp_port"},
        {"TCP", "EthTimeout", Type::Integer, "50", "UD_eth_timeout"},
        // Added later: kept last so the older keys keep their places.
        {"Modbus", "Fast", Type::Boolean, "1", "CheckFastReplies"},
        // The commissioning report's site and installer, kept by the window
        // itself: no control shows them.
        {"Report", "Site", Type::Text, "", "ReportSite"},
        {"Report", "Installer", Type::Text, "", "ReportInstaller"},
    };
    return keys;
}

QStringList SettingsFile::read(const QString& executableFolder, QStringList* problems) const {
    CSimpleIniA ini;
    ini.SetUnicode(true);
    const bool loaded = loadIni(ini, path_, problems);
    QStringList values;
    for (const SettingKey& key : settingKeys()) {
        const QString fallback =
            key.fallback.isEmpty() && key.control.isEmpty() ? executableFolder : key.fallback;
        const char* raw =
            loaded ? ini.GetValue(utf8(key.section).constData(), utf8(key.key).constData())
                   : nullptr;
        values.append(raw ? normalised(key, QString::fromUtf8(raw)) : fallback);
    }
    return values;
}

bool SettingsFile::write(const QStringList& values, QString* reason) const {
    CSimpleIniA ini;
    ini.SetUnicode(true);
    ini.SetSpaces(false);
    if (tooLarge(path_)) {
        if (reason) *reason = QStringLiteral("it is larger than 1 MB and is left as it is");
        return false;
    }
    loadIni(ini, path_);  // keep keys of the file that the tool does not know
    const auto& keys = settingKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
        ini.SetValue(utf8(keys[i].section).constData(), utf8(keys[i].key).constData(),
                     utf8(values.value(static_cast<int>(i))).constData());
    }
    std::string content;
    if (ini.Save(content) < 0) {
        if (reason) *reason = QStringLiteral("the settings cannot be put together");
        return false;
    }
    const FileWritten written = WriteWholeFile(path_, QByteArray::fromStdString(content));
    if (!written && reason) *reason = written.reason;
    return written.written;
}

}  // namespace tarnel
