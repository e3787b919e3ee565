#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_endpoint.h"

typedef struct _modbus modbus_t;
typedef struct _modbus_mapping_t modbus_mapping_t;

namespace tarnel::sim {

// The simulated gateway on real wires: a Modbus TCP server and Modbus RTU on
// a pseudo-terminal or a serial device, served by one thread. Frames are cut
// here (libmodbus 3.1.6 mis-frames function 43); replies to functions 3, 4,
// 6 and 16 are written by libmodbus from a register mapping filled with the
// gateway's answer first, so an independent Modbus implementation frames
// them; function 43 and faulted replies are written here. A reply that the
// gateway holds back (an activation reads the meter first) holds the thread
// too: the requests that come meanwhile wait, as on a gateway busy on the
// M-Bus. Stop() ends such a wait.
class ModbusServer {
public:
    ModbusServer(SimEndpoint& tcp, SimEndpoint& rtu);
    ~ModbusServer();
    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    // Listens on `host`:`port` (0 for a free port); returns the port.
    // Throws std::runtime_error.
    int ListenTcp(const std::string& host, int port);
    // Creates a pseudo-terminal pair and serves on its master side; returns
    // the path of the other side, the one a client opens.
    std::string ServePty();
    // Serves on a serial device (19200 8E1 unless told otherwise).
    void ServeSerial(const std::string& device, int baudrate = 19200, char parity = 'E', int stopBits = 1);

    void Start();
    void Stop();

private:
    struct Client {
        int fd;
        Bytes inbound;
    };

    void run();
    void serveTcpClient(Client& client, bool& closed);
    void serveRtu();
    // `client`: the line the client set on the pseudo-terminal, when known.
    void answer(int fd, modbus_t* context, SimEndpoint& endpoint, const Bytes& frame, bool& close,
                const std::optional<LineSettings>& client = std::nullopt);
    bool replyWithLibmodbus(int fd, modbus_t* context, const Exchange& exchange, const Bytes& frame);
    // Waits `ms` unless Stop() comes first; false when it did.
    bool pause(int ms);
    void writeAll(int fd, const Bytes& bytes);

    SimEndpoint& tcp_;
    SimEndpoint& rtu_;
    modbus_t* tcpContext_ = nullptr;
    modbus_t* rtuContext_ = nullptr;
    modbus_mapping_t* mapping_ = nullptr;
    int listenFd_ = -1;
    int rtuFd_ = -1;
    int ptySlaveFd_ = -1;  // kept open so the master stays usable between clients
    bool onPty_ = false;   // the client's line is read from the pseudo-terminal
    int wake_[2] = {-1, -1};
    std::vector<Client> clients_;
    Bytes rtuInbound_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace tarnel::sim
