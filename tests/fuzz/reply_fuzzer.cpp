// libFuzzer target over the gateway's replies: the RTU framing that tells a
// whole reply to a request, the Modbus TCP (MBAP) framing, the conversion of
// a TCP answer to RTU form, the common checks (CRC plain and with filler,
// leading 0x00, exception) and the parsers. The first byte chooses the
// request the reply answers (bits 0 to 2) and the form of the reply (bits 3
// and 4, see FramedReply); the rest is the reply.
#include "fuzz_input.h"
#include "link/reply_framing.h"
#include "link/response_parsers.h"

namespace {

using namespace tarnel;

// One request of each function the tool sends, to unit 1.
QByteArray Request(uint8_t choice) {
    switch ((choice & 7) % 5) {
        case 0:
            return ReadInputRegistersRequest(1, 1, 125).adu;
        case 1:
            return ReadHoldingRegistersRequest(1, 55400, 2).adu;
        case 2:
            return WriteSingleRegisterRequest(1, 0, 0x00, 0x05).adu;
        case 3:
            return WriteRegistersRequest(1, 33800, 5, QByteArray::fromHex("107B017C16"))->adu;
        default:
            return ReadDeviceIdRequest(1, 2).adu;
    }
}

// Every parser that takes a reply; an M-Bus reply is read with the length its
// byte count gives, as the scan asks for it.
void Parse(const QByteArray& frame) {
    if (frame.isEmpty()) return;  // no parser is called without a reply
    CountActiveDevices(ParseRegisterResponse(frame).registers);
    ParseDeviceIdResponse(frame);
    ParseAddressMapResponse(frame);
    ParseMbusResponse(frame, frame.size() > 2 ? static_cast<uint8_t>(frame[2]) : 0);
    ReadFirstRegister(frame);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const QByteArray body = fuzz::Bytes(data + 1, size - 1);
    const QByteArray reply = fuzz::FramedReply(data[0], body);
    // A reply the link confirms must pass the parsers' checks and come from
    // the request's unit.
    if (JudgeRtuReply(Request(data[0]), reply).verdict == Verdict::Confirmed) {
        fuzz::Check(!ValidateResponse(reply).report.crcError);
        fuzz::Check(reply.at(0) == Request(data[0]).at(0));
    }
    Parse(reply);
    // Modbus TCP: the bytes as received, and wrapped in one MBAP frame.
    for (const QByteArray& stream : {body, TcpFrame(1000, body)}) {
        const TcpReply tcp = FrameTcpReply(1000, stream);
        if (tcp.framing == Framing::Whole) {
            const QByteArray rtu = TcpToRtuFrame(tcp.frame, nullptr);
            fuzz::Check(rtu.isEmpty() || rtu.size() >= 4);
            if (rtu.size() > 4) fuzz::Check(!ValidateResponse(rtu).report.crcError);
            if (!rtu.isEmpty()) CheckConfirmation(Request(data[0]), rtu);
        }
        QStringList lines;
        Parse(TcpToRtuFrame(stream, &lines));
    }
    return 0;
}
