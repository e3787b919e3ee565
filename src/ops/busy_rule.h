#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <optional>

namespace tarnel {

// The operations that may keep another from starting.
enum class Operation {
    Scan,               // "Scan mbus"
    MeterRequest,       // read, medium, baud rate or value of one meter
    Search,             // "Find by ID"
    AddressChange,      // "Set": one meter's primary address by its ID
    BulkAddressChange,  // "Set all addresses"
    TableReadOut,       // "Read modbus devices"
    AddressMap,         // "Read real addresses"
    SearchAndActivate,  // the gateway's own search
    BulkActivation,     // "Activate All from table"
    CustomCommand,      // the console's "Send"
    Stop,               // "STOP"
    FindGateway,        // "Find gateway...": opens its own ports
    Count
};

// Which operations may run together: one table, read by the operations
// before they start and by the window to enable its buttons. An operation
// that runs blocks the ones its row names.
class BusyRule : public QObject {
    Q_OBJECT
public:
    explicit BusyRule(QObject* parent = nullptr);

    // Whether `operation` may start now; logs nothing, so that a face may ask
    // before it asks the user anything.
    bool allows(Operation operation) const;
    // Marks `operation` as running when it may start; else tells `refused`
    // and returns false.
    [[nodiscard]] bool begin(Operation operation);
    // For an operation that is over once sent (nothing to end): true, and
    // `refused` told, when a running operation blocks it.
    [[nodiscard]] bool refuses(Operation operation);
    void end(Operation operation);
    bool running(Operation operation) const;

    // The name the refusal line gives an operation.
    static QString name(Operation operation);

signals:
    // An operation began or ended: what is allowed may have changed.
    void changed();
    // `asked` may not start while `running` runs.
    void refused(Operation asked, Operation running);

private:
    // The first running operation that blocks `operation`, if any.
    std::optional<Operation> blocker(Operation operation) const;

    std::array<int, static_cast<size_t>(Operation::Count)> running_{};
};

}  // namespace tarnel
