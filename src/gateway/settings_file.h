#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace tarnel {

// One key of the settings file and the control it is restored into.
struct SettingKey {
    enum class Type { Text, Integer, Boolean };

    QString section;
    QString key;
    Type type;
    QString fallback;  // value when the file or the key is missing
    QString control;   // objectName of the control that shows the value
};

// Every key of the settings file, in the order in which it is written. The
// fallback of [Misc] Dir is empty here: it is the executable's folder, known
// only at run time.
const std::vector<SettingKey>& settingKeys();

// The settings file: an INI file of "key=value" lines in sections such as
// [Modbus port]. Read once at start-up and written once at close.
class SettingsFile {
public:
    explicit SettingsFile(QString path) : path_(std::move(path)) {}
    const QString& path() const { return path_; }

    // The value of every key of settingKeys(), in that order; missing keys (or
    // a missing or unreadable file) give the fallbacks. An integer or boolean
    // that is not a number also gives the fallback.
    QStringList read(const QString& executableFolder) const;

    // Writes the values (in the order of settingKeys()) into the file, keeping
    // any other keys it holds, with a FileWriter: the file is replaced whole
    // or not at all. False, with the file untouched and `reason` (when given)
    // saying why, when it is not written: a full disk, or a file whose mode
    // grants write permission to nobody (read-only even for root).
    bool write(const QStringList& values, QString* reason = nullptr) const;

private:
    QString path_;
};

}  // namespace tarnel
