#include "sim/modbus_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace tarnel::sim {
namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

bool libmodbusReplies(const Exchange& exchange) {
    if (exchange.faulted || exchange.replyPdu.empty() || (exchange.replyPdu[0] & 0x80)) return false;
    const uint8_t function = exchange.request->pdu[0];
    return function == 0x03 || function == 0x04 || function == 0x06 || function == 0x10;
}

}  // namespace

ModbusServer::ModbusServer(SimEndpoint& tcp, SimEndpoint& rtu) : tcp_(tcp), rtu_(rtu) {
    mapping_ = modbus_mapping_new_start_address(0, 0, 0, 0, 0, 65536, 0, 65536);
    if (!mapping_) fail("modbus_mapping_new");
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) fail("pipe");
}

ModbusServer::~ModbusServer() {
    Stop();
    for (const Client& client : clients_) ::close(client.fd);
    if (listenFd_ >= 0) ::close(listenFd_);
    if (tcpContext_) modbus_free(tcpContext_);
    if (rtuContext_) {
        modbus_close(rtuContext_);
        modbus_free(rtuContext_);
    }
    if (ptySlaveFd_ >= 0) ::close(ptySlaveFd_);
    modbus_mapping_free(mapping_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

int ModbusServer::ListenTcp(const std::string& host, int port) {
    tcpContext_ = modbus_new_tcp(host.c_str(), port);
    if (!tcpContext_) fail("modbus_new_tcp");
    listenFd_ = modbus_tcp_listen(tcpContext_, 8);
    if (listenFd_ < 0) fail("listen on " + host + ":" + std::to_string(port));
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

std::string ModbusServer::ServePty() {
    int master = -1;
    if (::openpty(&master, &ptySlaveFd_, nullptr, nullptr, nullptr) != 0) fail("openpty");
    termios raw{};
    ::tcgetattr(ptySlaveFd_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(ptySlaveFd_, TCSANOW, &raw);
    ::tcflush(master, TCIOFLUSH);  // nothing stale from an earlier session
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    rtuContext_ = modbus_new_rtu("/dev/null", 19200, 'E', 8, 1);
    if (!rtuContext_) fail("modbus_new_rtu");
    modbus_set_socket(rtuContext_, master);
    rtuFd_ = master;
    onPty_ = true;
    return ::ttyname(ptySlaveFd_);
}

void ModbusServer::ServeSerial(const std::string& device, int baudrate, char parity, int stopBits) {
    rtuContext_ = modbus_new_rtu(device.c_str(), baudrate, parity, 8, stopBits);
    if (!rtuContext_) fail("modbus_new_rtu " + device);
    if (modbus_connect(rtuContext_) != 0) fail("open " + device);
    rtuFd_ = modbus_get_socket(rtuContext_);
    ::tcflush(rtuFd_, TCIOFLUSH);
}

void ModbusServer::Start() {
    stop_ = false;
    char stale[16];  // the wake-up of an earlier Stop()
    while (::read(wake_[0], stale, sizeof stale) > 0) {
    }
    thread_ = std::thread([this] { run(); });
}

void ModbusServer::Stop() {
    stop_ = true;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_[1], &byte, 1);
    if (thread_.joinable()) thread_.join();
}

void ModbusServer::run() {
    while (!stop_) {
        std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}};
        if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
        if (rtuFd_ >= 0) fds.push_back({rtuFd_, POLLIN, 0});
        for (const Client& client : clients_) fds.push_back({client.fd, POLLIN, 0});
        // A request cut short is dropped after a quiet line (the RTU frame gap).
        const int ready = ::poll(fds.data(), fds.size(), 200);
        if (ready < 0 && errno != EINTR) break;
        if (ready == 0) rtuInbound_.clear();
        if (stop_) break;
        size_t index = 1;
        if (listenFd_ >= 0 && (fds[index++].revents & POLLIN)) {
            const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) clients_.push_back({client, {}});
        }
        if (rtuFd_ >= 0 && (fds[index++].revents & (POLLIN | POLLHUP))) serveRtu();
        for (size_t i = 0; i < clients_.size() && index < fds.size(); ++index) {
            bool closed = false;
            if (fds[index].revents & (POLLIN | POLLHUP | POLLERR)) serveTcpClient(clients_[i], closed);
            if (closed) {
                ::close(clients_[i].fd);
                clients_.erase(clients_.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
    }
}

void ModbusServer::serveTcpClient(Client& client, bool& closed) {
    uint8_t buffer[1024];
    const ssize_t got = ::read(client.fd, buffer, sizeof buffer);
    if (got <= 0) {
        closed = true;
        return;
    }
    client.inbound.insert(client.inbound.end(), buffer, buffer + got);
    while (const auto length = RequestLength(client.inbound, Framing::Tcp)) {
        const Bytes frame(client.inbound.begin(), client.inbound.begin() + static_cast<long>(*length));
        client.inbound.erase(client.inbound.begin(), client.inbound.begin() + static_cast<long>(*length));
        answer(client.fd, tcpContext_, tcp_, frame, closed);
        if (closed) return;
    }
}

void ModbusServer::serveRtu() {
    uint8_t buffer[1024];
    const ssize_t got = ::read(rtuFd_, buffer, sizeof buffer);
    if (got <= 0) return;  // the client side is closed: wait for the next one
    rtuInbound_.insert(rtuInbound_.end(), buffer, buffer + got);
    while (const auto length = RequestLength(rtuInbound_, Framing::Rtu)) {
        const Bytes frame(rtuInbound_.begin(), rtuInbound_.begin() + static_cast<long>(*length));
        rtuInbound_.erase(rtuInbound_.begin(), rtuInbound_.begin() + static_cast<long>(*length));
        bool unused = false;
        // The client's line as it stands when its request came.
        answer(rtuFd_, rtuContext_, rtu_, frame, unused,
               onPty_ ? PtyClientLine(rtuFd_) : std::nullopt);
    }
}

void ModbusServer::answer(int fd, modbus_t* context, SimEndpoint& endpoint, const Bytes& frame,
                          bool& close, const std::optional<LineSettings>& client) {
    const Exchange exchange = client ? endpoint.AnswerOn(*client, frame) : endpoint.Answer(frame);
    if (exchange.close) {
        close = true;
        return;
    }
    if (exchange.chunks.empty()) return;
    int sent = exchange.chunks.front().delayMs;
    if (!pause(sent)) return;
    if (replyWithLibmodbus(fd, context, exchange, frame)) {
        endpoint.RecordReply(exchange.chunks.front().bytes);
        return;
    }
    for (const ReplyChunk& chunk : exchange.chunks) {
        if (chunk.delayMs > sent && !pause(chunk.delayMs - sent)) return;
        sent = std::max(sent, chunk.delayMs);
        writeAll(fd, chunk.bytes);
        endpoint.RecordReply(chunk.bytes);
    }
}

bool ModbusServer::replyWithLibmodbus(int fd, modbus_t* context, const Exchange& exchange, const Bytes& frame) {
    if (!context || !libmodbusReplies(exchange)) return false;
    const Bytes& pdu = exchange.request->pdu;
    const uint8_t function = pdu[0];
    if (function == 0x03 || function == 0x04) {
        // Put the gateway's answer where libmodbus will read it from.
        const int start = pdu[1] << 8 | pdu[2];
        uint16_t* registers = function == 0x03 ? mapping_->tab_registers : mapping_->tab_input_registers;
        const Bytes& reply = exchange.replyPdu;
        for (size_t i = 2; i + 1 < reply.size() && start + (i - 2) / 2 < 65536; i += 2)
            registers[start + (i - 2) / 2] = static_cast<uint16_t>(reply[i] << 8 | reply[i + 1]);
    }
    modbus_set_socket(context, fd);
    modbus_set_slave(context, exchange.request->unit);
    return modbus_reply(context, frame.data(), static_cast<int>(frame.size()), mapping_) > 0;
}

bool ModbusServer::pause(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stop_) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        pollfd wake{wake_[0], POLLIN, 0};
        ::poll(&wake, 1, static_cast<int>(left.count()));
    }
    return false;
}

void ModbusServer::writeAll(int fd, const Bytes& bytes) {
    // A client that does not read (a closed serial port) must not stall the
    // server: what the line cannot take within a moment is dropped.
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
            continue;
        }
        if (put < 0 && errno != EINTR && errno != EAGAIN) return;
        pollfd writable{fd, POLLOUT, 0};
        if (::poll(&writable, 1, 100) <= 0) return;
    }
}

}  // namespace tarnel::sim
