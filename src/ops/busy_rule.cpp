#include "ops/busy_rule.h"

#include <initializer_list>
#include <optional>

namespace tarnel {
namespace {

using Op = Operation;

struct Row {
    Op running;
    std::initializer_list<Op> blocks;
};

// What each running operation keeps from starting. The M-Bus operations
// share the bus and the gateway's pass-through, so they exclude each other;
// a read-out or an activation keeps STOP from cutting it short. A single
// meter request blocks nothing but the finder: a new one replaces it. The
// gateway finder opens ports and tries lines of its own, so it excludes
// every operation on a link, and every one excludes it.
const Row kRules[] = {
    {Op::FindGateway,
     {Op::Scan, Op::MeterRequest, Op::Search, Op::AddressChange, Op::BulkAddressChange,
      Op::TableReadOut, Op::AddressMap, Op::SearchAndActivate, Op::BulkActivation,
      Op::CustomCommand, Op::FindGateway}},
    {Op::MeterRequest, {Op::FindGateway}},
    {Op::AddressMap, {Op::FindGateway}},
    {Op::SearchAndActivate, {Op::FindGateway}},
    {Op::CustomCommand, {Op::FindGateway}},
    {Op::Scan,
     {Op::Scan, Op::MeterRequest, Op::Search, Op::AddressChange, Op::BulkAddressChange,
      Op::TableReadOut, Op::AddressMap, Op::SearchAndActivate, Op::BulkActivation,
      Op::FindGateway}},
    {Op::Search,
     {Op::Scan, Op::MeterRequest, Op::Search, Op::AddressChange, Op::BulkAddressChange,
      Op::TableReadOut, Op::AddressMap, Op::SearchAndActivate, Op::BulkActivation,
      Op::FindGateway}},
    {Op::AddressChange,
     {Op::Scan, Op::MeterRequest, Op::Search, Op::AddressChange, Op::BulkAddressChange,
      Op::TableReadOut, Op::AddressMap, Op::SearchAndActivate, Op::BulkActivation,
      Op::FindGateway}},
    {Op::BulkAddressChange,
     {Op::Scan, Op::MeterRequest, Op::Search, Op::AddressChange, Op::BulkAddressChange,
      Op::TableReadOut, Op::AddressMap, Op::SearchAndActivate, Op::FindGateway}},
    {Op::TableReadOut,
     {Op::Scan, Op::Stop, Op::Search, Op::AddressChange, Op::TableReadOut, Op::AddressMap,
      Op::SearchAndActivate, Op::BulkActivation, Op::FindGateway}},
    {Op::BulkActivation,
     {Op::Scan, Op::Stop, Op::MeterRequest, Op::Search, Op::AddressChange, Op::TableReadOut,
      Op::AddressMap, Op::SearchAndActivate, Op::CustomCommand, Op::FindGateway}},
};

bool blocks(Op running, Op asked) {
    for (const Row& row : kRules)
        if (row.running == running)
            for (const Op blocked : row.blocks)
                if (blocked == asked) return true;
    return false;
}

size_t slot(Op operation) {
    return static_cast<size_t>(operation);
}

}  // namespace

BusyRule::BusyRule(QObject* parent) : QObject(parent) {}

QString BusyRule::name(Operation operation) {
    switch (operation) {
        case Op::Scan:
            return QStringLiteral("Scan");
        case Op::MeterRequest:
            return QStringLiteral("Meter request");
        case Op::Search:
            return QStringLiteral("Secondary search");
        case Op::AddressChange:
            return QStringLiteral("Address change");
        case Op::BulkAddressChange:
            return QStringLiteral("Change of all addresses");
        case Op::TableReadOut:
            return QStringLiteral("Device table read");
        case Op::AddressMap:
            return QStringLiteral("Address map read");
        case Op::SearchAndActivate:
            return QStringLiteral("Search and activate");
        case Op::BulkActivation:
            return QStringLiteral("Activation");
        case Op::CustomCommand:
            return QStringLiteral("Custom command");
        case Op::Stop:
            return QStringLiteral("STOP");
        case Op::FindGateway:
            return QStringLiteral("Gateway search");
        case Op::Count:
            break;
    }
    return {};
}

bool BusyRule::running(Operation operation) const {
    return running_[slot(operation)] > 0;
}

std::optional<Operation> BusyRule::blocker(Operation operation) const {
    for (size_t other = 0; other < running_.size(); ++other)
        if (running_[other] > 0 && blocks(static_cast<Op>(other), operation))
            return static_cast<Op>(other);
    return std::nullopt;
}

bool BusyRule::allows(Operation operation) const {
    return !blocker(operation);
}

bool BusyRule::begin(Operation operation) {
    if (refuses(operation)) return false;
    ++running_[slot(operation)];
    emit changed();
    return true;
}

bool BusyRule::refuses(Operation operation) {
    const std::optional<Operation> running = blocker(operation);
    if (!running) return false;
    emit refused(operation, *running);
    return true;
}

void BusyRule::end(Operation operation) {
    int& count = running_[slot(operation)];
    if (count == 0) return;
    --count;
    emit changed();
}

}  // namespace tarnel
