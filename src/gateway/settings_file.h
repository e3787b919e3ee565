#pragma once

#include <QString>
#include <QtGlobal>
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
    // Our own file holds a few hundred bytes: a larger one is not read whole
    // into memory.
    static constexpr qint64 kMaxBytes = 1024 * 1024;

    explicit SettingsFile(QString path) : path_(std::move(path)) {}
    const QString& path() const { return path_; }

    // The value of every key of settingKeys(), in that order; missing keys (or
    // a missing or unreadable file) give the fallbacks. An integer or boolean
    // that is not a number also gives the fallback. A file over 1 MB is not
    // read, and a line holding a NUL byte is skipped; each adds a line to
    // `problems` (when given).
    QStringList read(const QString& executableFolder, QStringList* problems = nullptr) const;

    // Writes the values (in the order of settingKeys()) into the file, keeping
    // any other keys it holds, with a FileWriter: the file is replaced whole
    // or not at all. False, with the file untouched and `reason` (when given)
    // saying why, when it is not written: a full disk, or a file whose mode
    // grants write permission to nobody (read-only even for root), or a file
    // over 1 MB, which was not ours to read.
    bool write(const QStringList& values, QString* reason = nullptr) const;

private:
    QString path_;
};

}  // namespace tarnel
