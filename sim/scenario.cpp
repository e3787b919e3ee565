#include "sim/scenario.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

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

// "activate": a list of primary addresses, or "all".
bool readActivate(const QJsonValue& value, Scenario& scenario) {
    if (value.toString() == QLatin1String("all")) {
        scenario.activateAll = true;
        return true;
    }
    if (!value.isArray()) return false;
    std::vector<int> addresses;
    for (const QJsonValue& address : value.toArray()) {
        const int number = address.toInt(-1);
        if (!address.isDouble() || address.toDouble() != number || number < 0 || number > 250)
            return false;
        addresses.push_back(number);
    }
    scenario.activate = addresses;
    return true;
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
    if (root.contains("meters")) {
        const QString meters = root.value("meters").toString();
        if (meters.isEmpty()) {
            *error = path + ": meters must be the path of a meter file";
            return std::nullopt;
        }
        scenario.metersFile =
            QFileInfo(meters).isRelative() ? QFileInfo(path).dir().filePath(meters) : meters;
    }
    if (root.contains("activate") && !readActivate(root.value("activate"), scenario)) {
        *error = path + ": activate must be \"all\" or a list of primary addresses 0 to 250";
        return std::nullopt;
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

std::optional<std::vector<SimMeter>> ScenarioMeters(const Scenario& scenario, QString* error) {
    if (scenario.metersFile.isEmpty()) return SimBus::DefaultMeters();
    return SimBus::LoadMeters(scenario.metersFile, error);
}

int ApplyScenario(const Scenario& scenario, SimGateway& gateway) {
    if (scenario.entryRegisters) gateway.SetEntryRegisters(*scenario.entryRegisters);
    if (scenario.unit) gateway.SetUnitAddress(static_cast<uint8_t>(*scenario.unit));
    if (scenario.activateAll) return gateway.ActivateAll();
    std::vector<int> addresses;
    if (scenario.activate) {
        addresses = *scenario.activate;
    } else {  // a few meters in the table already, as on a gateway in use
        const std::vector<SimMeter>& meters = gateway.bus().meters();
        for (size_t i = 0; i < std::min<size_t>(3, meters.size()); ++i)
            addresses.push_back(meters[i].address);
    }
    for (const int address : addresses)
        (void)gateway.Activate(static_cast<uint8_t>(address));
    return gateway.ActiveDevices();
}

}  // namespace tarnel::sim
