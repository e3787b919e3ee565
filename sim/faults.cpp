#include "sim/faults.h"

#include <sstream>

namespace tarnel::sim {

std::optional<FaultKind> FaultKindFromName(const std::string& name) {
    static const std::pair<const char*, FaultKind> kNames[] = {
        {"no-reply", FaultKind::NoReply},    {"crc", FaultKind::WrongCrc},
        {"filler", FaultKind::Filler},       {"leading-zero", FaultKind::LeadingZero},
        {"exception", FaultKind::Exception}, {"delay", FaultKind::Delay},
        {"split", FaultKind::Split},         {"short-tcp", FaultKind::ShortTcp},
        {"close", FaultKind::Close},         {"double", FaultKind::Double},
        {"wrong-tid", FaultKind::WrongTid},  {"wrong-unit", FaultKind::WrongUnit},
        {"hang-up", FaultKind::HangUp},      {"stale", FaultKind::Stale},
    };
    for (const auto& [known, kind] : kNames)
        if (name == known) return kind;
    return std::nullopt;
}

std::optional<Fault> ParseFault(const std::string& text, std::string* error) {
    std::istringstream parts(text);
    std::string part;
    std::getline(parts, part, ',');
    const auto kind = FaultKindFromName(part);
    if (!kind) {
        if (error) *error = "unknown fault '" + part + "'";
        return std::nullopt;
    }
    Fault fault;
    fault.kind = *kind;
    while (std::getline(parts, part, ',')) {
        const size_t equals = part.find('=');
        const std::string key = part.substr(0, equals);
        int number = 0;
        try {
            number = std::stoi(part.substr(equals + 1), nullptr, 0);
        } catch (const std::exception&) {
            if (error) *error = "'" + part + "' is not key=number";
            return std::nullopt;
        }
        if (key == "count")
            fault.count = number;
        else if (key == "function")
            fault.function = number;
        else if (key == "register")
            fault.registerNumber = number;
        else if (key == "value")
            fault.value = number;
        else {
            if (error) *error = "unknown fault setting '" + key + "'";
            return std::nullopt;
        }
    }
    return fault;
}

void FaultPlan::Add(const Fault& fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(fault);
}

void FaultPlan::Clear() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

std::vector<Fault> FaultPlan::Take(int function, int registerNumber) {
    std::lock_guard lock(mutex_);
    std::vector<Fault> hits;
    for (Fault& fault : faults_) {
        if (fault.count == 0) continue;
        if (fault.function && *fault.function != function) continue;
        if (fault.registerNumber && *fault.registerNumber != registerNumber) continue;
        hits.push_back(fault);
        if (fault.count > 0) --fault.count;
    }
    std::erase_if(faults_, [](const Fault& fault) { return fault.count == 0; });
    return hits;
}

}  // namespace tarnel::sim
