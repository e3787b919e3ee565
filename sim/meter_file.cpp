// The meter sets of the simulated bus: the built-in demo meters and the
// meters of a JSON meter file.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "sim/sim_bus.h"

namespace tarnel::sim {
namespace {

// Medium codes (EN 13757-3).
constexpr uint8_t kElectricity = 0x02;
constexpr uint8_t kGas = 0x03;
constexpr uint8_t kHeat = 0x04;
constexpr uint8_t kHotWater = 0x06;
constexpr uint8_t kWater = 0x07;
constexpr uint8_t kColdWater = 0x16;

// Status bit "power low".
constexpr uint8_t kPowerLow = 0x04;

// The longest record list that still fits a long frame (L at most 255).
constexpr int kMaxRecordBytes = 240;

void Append(Bytes& to, std::initializer_list<uint8_t> bytes) {
    for (const uint8_t byte : bytes)
        to.push_back(byte);
}

SimMeter MakeMeter(uint8_t address, uint32_t id, uint16_t manufacturer, uint8_t medium,
                   Bytes records) {
    SimMeter meter;
    meter.address = address;
    meter.id = id;
    meter.manufacturer = manufacturer;
    meter.medium = medium;
    meter.records = std::move(records);
    return meter;
}

// Energy in 10 kWh (VIF 0x07), 32-bit integer, with a storage number: its
// lowest bit in the DIF, the others in a DIFE.
void AppendStoredEnergy(Bytes& records, unsigned storage, uint32_t value) {
    const auto storageBit = static_cast<uint8_t>((storage & 1) << 6);
    if (storage < 2) {
        records.push_back(0x04 | storageBit);
    } else {
        records.push_back(0x84 | storageBit);
        records.push_back(static_cast<uint8_t>(storage >> 1 & 0x0F));
    }
    records.push_back(0x07);
    for (int i = 0; i < 4; ++i)
        records.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A heat meter that tells everything it knows: the current values, then the
// energy at the end of each of the last twelve months. About 150 bytes.
Bytes LongHeatRecords() {
    Bytes records;
    AppendStoredEnergy(records, 0, 4251);                   // 42510 kWh
    Append(records, {0x04, 0x14, 0xC8, 0x6E, 0x01, 0x00});  // volume 938.96 m3
    Append(records, {0x04, 0x2D, 0x0C, 0x00, 0x00, 0x00});  // power 1.2 kW
    Append(records, {0x04, 0x3B, 0x7B, 0x00, 0x00, 0x00});  // flow 123 l/h
    Append(records, {0x02, 0x59, 0x2A, 0x1A});              // flow 66.98 deg C
    Append(records, {0x02, 0x5D, 0x5E, 0x10});              // return 41.90 deg C
    Append(records, {0x02, 0x61, 0xCC, 0x09});              // difference 25.08 K
    Append(records, {0x04, 0x22, 0xE8, 0xA1, 0x00, 0x00});  // 41448 operating hours
    Append(records, {0x04, 0x6D, 0x1E, 0x09, 0x2E, 0x33});  // 2025-03-14 09:30
    Append(records, {0x02, 0xFD, 0x17, 0x00, 0x00});        // error flags
    for (unsigned month = 1; month <= 12; ++month)
        AppendStoredEnergy(records, month, 4251 - 180 * month);
    return records;
}

// Two energy registers (tariffs 1 and 2) of an electricity meter, each with
// a DIFE and a VIFE (forward energy), two filler bytes between them, so
// that their data start at telegram positions 23 and 33.
Bytes TwoTariffRecords() {
    Bytes records;
    Append(records, {0x84, 0x10, 0x83, 0x3B, 0x4E, 0x61, 0xBC, 0x00});  // T1 12345.678 kWh
    Append(records, {0x2F, 0x2F});
    Append(records, {0x84, 0x20, 0x83, 0x3B, 0xCE, 0xCA, 0x23, 0x00});  // T2 2345.678 kWh
    Append(records, {0x04, 0x2B, 0x5C, 0x03, 0x00, 0x00});              // power 860 W
    return records;
}

// --- The meter file -------------------------------------------------------

QString IntegerProblem(int min, int max) {
    return QStringLiteral("must be a whole number from %1 to %2").arg(min).arg(max);
}

template <typename T>
QString ReadInteger(const QJsonValue& value, int min, int max, T& target) {
    const double number = value.toDouble();
    if (!value.isDouble() || number != std::floor(number) || number < min || number > max)
        return IntegerProblem(min, max);
    target = static_cast<T>(number);
    return {};
}

QString ReadBool(const QJsonValue& value, bool& target) {
    if (!value.isBool()) return QStringLiteral("must be true or false");
    target = value.toBool();
    return {};
}

bool IsHexDigits(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.isDigit() || (c.toUpper() >= QChar('A') && c.toUpper() <= QChar('F'));
    });
}

QString ReadId(const QJsonValue& value, SimMeter& meter) {
    const QString text = value.toString();
    if (!value.isString() || text.size() != 8 || !IsHexDigits(text))
        return QStringLiteral("must be a text of 8 hexadecimal digits, such as \"12345678\"");
    meter.id = text.toUInt(nullptr, 16);
    return {};
}

QString ReadManufacturer(const QJsonValue& value, SimMeter& meter) {
    if (value.isDouble()) return ReadInteger(value, 0, 0xFFFF, meter.manufacturer);
    const QString text = value.toString();
    const auto isLetter = [](QChar c) { return c >= QChar('A') && c <= QChar('Z'); };
    if (text.size() != 3 || !std::all_of(text.begin(), text.end(), isLetter))
        return QStringLiteral(
            "must be three letters A to Z, such as \"ABC\", or a code from 0 "
            "to 65535");
    const auto letter = [&text](int i) { return static_cast<char>(text[i].unicode()); };
    meter.manufacturer = ManufacturerCode(letter(0), letter(1), letter(2));
    return {};
}

QString ReadBaud(const QJsonValue& value, SimMeter& meter) {
    for (int baud = 300; baud <= 38400; baud *= 2) {
        if (value.isDouble() && value.toDouble() == baud) {
            meter.baud = baud;
            return {};
        }
    }
    return QStringLiteral("must be one of 300, 600, 1200, 2400, 4800, 9600, 19200, 38400");
}

QString ReadRecords(const QJsonValue& value, SimMeter& meter) {
    QString text;
    for (const QChar c : value.toString())
        if (!c.isSpace()) text += c;
    if (!value.isString() || text.size() % 2 != 0 || !IsHexDigits(text) ||
        text.size() > 2 * kMaxRecordBytes) {
        return QStringLiteral(
                   "must be hexadecimal bytes such as \"04 13 10 27 00 00\", "
                   "at most %1 of them")
            .arg(kMaxRecordBytes);
    }
    const QByteArray bytes = QByteArray::fromHex(text.toLatin1());
    meter.records.assign(bytes.begin(), bytes.end());
    return {};
}

// One field of a meter object: its name, whether it must be there, and how
// it is read (an empty text, or what is wrong with the value).
struct Field {
    const char* name;
    bool required;
    QString (*read)(const QJsonValue& value, SimMeter& meter);
};

constexpr Field kFields[] = {
    {"address", true,
     [](const QJsonValue& v, SimMeter& m) { return ReadInteger(v, 0, 250, m.address); }},
    {"id", true, ReadId},
    {"manufacturer", false, ReadManufacturer},
    {"version", false,
     [](const QJsonValue& v, SimMeter& m) { return ReadInteger(v, 0, 255, m.version); }},
    {"medium", false,
     [](const QJsonValue& v, SimMeter& m) { return ReadInteger(v, 0, 255, m.medium); }},
    {"status", false,
     [](const QJsonValue& v, SimMeter& m) { return ReadInteger(v, 0, 255, m.status); }},
    {"baud", false, ReadBaud},
    {"records", false, ReadRecords},
    {"replyDelayMs", false,
     [](const QJsonValue& v, SimMeter& m) { return ReadInteger(v, 0, 60000, m.replyDelayMs); }},
    {"silent", false, [](const QJsonValue& v, SimMeter& m) { return ReadBool(v, m.silent); }},
    {"wrongChecksum", false,
     [](const QJsonValue& v, SimMeter& m) { return ReadBool(v, m.wrongChecksum); }},
    {"extraDelayMs", false,
     [](const QJsonValue& v, SimMeter& m) { return ReadInteger(v, 0, 60000, m.extraDelayMs); }},
};

bool IsKnownField(const QString& name) {
    return std::any_of(std::begin(kFields), std::end(kFields),
                       [&](const Field& field) { return name == QLatin1String(field.name); });
}

// One meter object; what is wrong with it when it cannot be read.
std::optional<SimMeter> ReadMeter(const QJsonValue& value, QString& problem) {
    if (!value.isObject()) {
        problem = QStringLiteral("is not a JSON object");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    for (const QString& key : object.keys()) {
        if (!IsKnownField(key)) {
            problem = QStringLiteral("has an unknown field \"%1\"").arg(key);
            return std::nullopt;
        }
    }
    SimMeter meter;
    for (const Field& field : kFields) {
        const QJsonValue fieldValue = object.value(QLatin1String(field.name));
        if (fieldValue.isUndefined()) {
            if (!field.required) continue;
            problem = QStringLiteral("has no \"%1\"").arg(field.name);
            return std::nullopt;
        }
        if (const QString wrong = field.read(fieldValue, meter); !wrong.isEmpty()) {
            problem = QStringLiteral("\"%1\" %2").arg(field.name, wrong);
            return std::nullopt;
        }
    }
    return meter;
}

void SetError(QString* error, const QString& text) {
    if (error) *error = text;
}

}  // namespace

std::vector<SimMeter> SimBus::DefaultMeters() {
    std::vector<SimMeter> meters;
    meters.push_back(MakeMeter(1, 0x12345678, ManufacturerCode('A', 'B', 'C'), kWater,
                               Bytes{0x04, 0x13, 0x40, 0xE2, 0x01, 0x00,  // 123.456 m3
                                     0x44, 0x13, 0xA0, 0x86, 0x01, 0x00,  // due day 100 m3
                                     0x42, 0x6C, 0x1F, 0x3C,              // due day 2024-12-31
                                     0x02, 0x3B, 0x00, 0x00}));           // flow 0 l/h
    meters.push_back(MakeMeter(2, 0x21030045, ManufacturerCode('H', 'T', 'L'), kHeat,
                               Bytes{0x0C, 0x06, 0x27, 0x15, 0x00, 0x00,  // 1527 kWh
                                     0x0C, 0x14, 0x35, 0x82, 0x00, 0x00,  // 82.35 m3
                                     0x0B, 0x2D, 0x00, 0x00, 0x00,        // power 0 kW
                                     0x0B, 0x3B, 0x00, 0x00, 0x00,        // flow 0 l/h
                                     0x0A, 0x5A, 0x45, 0x06,              // flow 64.5 deg C
                                     0x0A, 0x5E, 0x82, 0x03,              // return 38.2 deg C
                                     0x0A, 0x62, 0x63, 0x02,              // 26.3 K
                                     0x4C, 0x06, 0x80, 0x13, 0x00, 0x00,  // due day 1380 kWh
                                     0x42, 0x6C, 0x1F, 0x3C}));
    meters.push_back(MakeMeter(3, 0x30201567, ManufacturerCode('G', 'S', 'W'), kGas,
                               Bytes{0x0C, 0x14, 0x41, 0x52, 0x08, 0x00,  // 852.41 m3
                                     0x4C, 0x14, 0x00, 0x50, 0x08, 0x00,  // due day 850 m3
                                     0x42, 0x6C, 0x1F, 0x3C}));
    meters.back().status = kPowerLow;
    meters.back().replyDelayMs = 45;
    meters.push_back(MakeMeter(4, 0x45000012, ManufacturerCode('Z', 'P', 'A'), kElectricity,
                               TwoTariffRecords()));
    meters.back().replyDelayMs = 20;
    meters.push_back(MakeMeter(5, 0x51872403, ManufacturerCode('W', 'W', 'R'), kHotWater,
                               Bytes{0x0C, 0x78, 0x21, 0x43, 0x65, 0x87,     // fabr. no. 87654321
                                     0x04, 0x13, 0x2F, 0x5B, 0x00, 0x00}));  // 23.343 m3
    // Ends in the same digit as meter 1: a wildcard search sees them collide.
    meters.push_back(MakeMeter(6, 0x24681358, ManufacturerCode('C', 'W', 'M'), kColdWater,
                               Bytes{0x0B, 0x13, 0x87, 0x09, 0x03,  // 30.987 m3
                                     0x4B, 0x13, 0x00, 0x00, 0x03,  // due day 30 m3
                                     0x42, 0x6C, 0x1F, 0x3C}));
    meters.back().replyDelayMs = 60;
    meters.push_back(
        MakeMeter(7, 0x70119926, ManufacturerCode('L', 'G', 'H'), kHeat, LongHeatRecords()));
    meters.back().extraDelayMs = 400;  // slow, and its telegram takes ~720 ms
    meters.push_back(MakeMeter(8, 0x81234569, ManufacturerCode('E', 'L', 'Q'), kElectricity,
                               Bytes{0x04, 0x05, 0x39, 0x30, 0x00, 0x00,  // 1234.5 kWh
                                     0x04, 0x2B, 0xE8, 0x03, 0x00, 0x00,  // 1000 W
                                     0x02, 0xFD, 0x48, 0xFC, 0x08,        // 230.0 V
                                     0x02, 0xFD, 0x59, 0x88, 0x13}));     // 5.000 A
    return meters;
}

std::optional<std::vector<SimMeter>> SimBus::ParseMeters(const QByteArray& json, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull()) {
        SetError(error, QStringLiteral("not valid JSON: %1 at offset %2")
                            .arg(parseError.errorString())
                            .arg(parseError.offset));
        return std::nullopt;
    }
    const QJsonValue list = document.object().value(QLatin1String("meters"));
    if (!document.isObject() || !list.isArray()) {
        SetError(error, QStringLiteral("expected an object with a \"meters\" array"));
        return std::nullopt;
    }
    std::vector<SimMeter> meters;
    const QJsonArray array = list.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        QString problem;
        std::optional<SimMeter> meter = ReadMeter(array.at(i), problem);
        if (!meter) {
            SetError(error, QStringLiteral("meter %1 %2").arg(i + 1).arg(problem));
            return std::nullopt;
        }
        meters.push_back(std::move(*meter));
    }
    return meters;
}

std::optional<std::vector<SimMeter>> SimBus::LoadMeters(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        SetError(
            error,
            QStringLiteral("%1: cannot read the meter file: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    QString problem;
    std::optional<std::vector<SimMeter>> meters = ParseMeters(file.readAll(), &problem);
    if (!meters) SetError(error, QStringLiteral("%1: %2").arg(path, problem));
    return meters;
}

std::optional<SimBus> SimBus::FromFile(const QString& path, QString* error) {
    std::optional<std::vector<SimMeter>> meters = LoadMeters(path, error);
    if (!meters) return std::nullopt;
    return SimBus(std::move(*meters));
}

}  // namespace tarnel::sim
