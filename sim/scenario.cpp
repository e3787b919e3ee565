#include "sim/scenario.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "sim/sim_gateway.h"

namespace tarnel::sim {
namespace {

std::optional<Fault> faultFrom(const QJsonObject& object, QString* error) {
    const auto kind = FaultKindFromName(object.value("kind").toString().toStdString());
    if (!kind) {
        *error = "unknown fault kind '" + object.value("kind").toString() + "'";
        return std::nullopt;
    }
    Fault fault;
    fault.kind = *kind;
    fault.value = object.value("value").toInt(0);
    fault.count = object.value("count").toInt(1);
    if (object.contains("function")) fault.function = object.value("function").toInt();
    if (object.contains("register")) fault.registerNumber = object.value("register").toInt();
    return fault;
}

}  // namespace

std::optional<Scenario> LoadScenario(const QString& path, QString* error) {
    QString unused;
    if (!error) error = &unused;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + ": " + file.errorString();
        return std::nullopt;
    }
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
    if (!document.isObject()) {
        *error =
            path + ": " + (parse.error ? parse.errorString() : QStringLiteral("not a JSON object"));
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    Scenario scenario;
    if (root.contains("unit")) {
        const int unit = root.value("unit").toInt(-1);
        if (unit < 0 || unit > SimGateway::kLastUnitAddress) {
            *error = path + ": unit must be 0 to 254";
            return std::nullopt;
        }
        scenario.unit = unit;
    }
    if (root.contains("entryRegisters")) {
        const int registers = root.value("entryRegisters").toInt();
        if (registers != 24 && registers != 28) {
            *error = path + ": entryRegisters must be 24 or 28";
            return std::nullopt;
        }
        scenario.entryRegisters = registers;
    }
    if (root.contains("activate")) {
        std::vector<int> addresses;
        for (const QJsonValue& address : root.value("activate").toArray())
            addresses.push_back(address.toInt());
        scenario.activate = addresses;
    }
    for (const QJsonValue& value : root.value("faults").toArray()) {
        const auto fault = faultFrom(value.toObject(), error);
        if (!fault) {
            *error = path + ": " + *error;
            return std::nullopt;
        }
        scenario.faults.push_back(*fault);
    }
    return scenario;
}

}  // namespace tarnel::sim
