// The secure-messaging target's entries: every public method of CCardSM on
// arbitrary responses, and the bridge (key derivation from GET DATA 01 81,
// GET CHALLENGE, the wrapped command) with arbitrary card answers.
#include "fuzz/harness/fuzz_target.h"
#include "fuzz/targets/dispatch.h"
#include "fuzz/targets/sm_builder.h"

#include "ombrix/ombrix_r2.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace ombrix::fuzz {

namespace {

using Builder = SmBuilder;

// The target's card object is an SmBuilder.
Builder& builder(CommandContext& c) { return static_cast<Builder&>(c.r2); }

// A heap copy of exactly n bytes: reads past it are seen.
std::unique_ptr<unsigned char[]> exact(const Bytes& bytes)
{
    auto copy = std::make_unique<unsigned char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return copy;
}

APDU command_of(Args& args, std::vector<unsigned char>& data)
{
    APDU apdu{};
    apdu.CLA = args.byte();
    apdu.INS = args.byte();
    apdu.P1 = args.byte();
    apdu.P2 = args.byte();
    apdu.Lc = args.byte();
    apdu.Le = args.byte();
    data = args.bytes(apdu.Lc);
    apdu.data = apdu.Lc != 0 ? data.data() : nullptr;
    return apdu;
}

Bytes append(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 87 L 01 ENC(plain), from the argument bytes.
Bytes cryptogram(CommandContext& c)
{
    Bytes plain = c.args.counted();
    plain.resize(std::min<std::size_t>(plain.size(), 200));
    unsigned long length = Builder::kObjectCapacity;
    Bytes out(length);
    if (builder(c).mkEnc(plain.data(), plain.size(), out.data(), length) != 0)
        return {};
    out.resize(length);
    Bytes object{0x87, static_cast<std::uint8_t>(length + 1), 0x01};
    return append(object, out);
}

// The response to check: the argument bytes, or a well-formed one built
// from them with the loaded keys (and a MAC over the command's header
// block), optionally with one byte changed.
Bytes response(CommandContext& c, const APDU& cmd, const Bytes& prefix, int kind)
{
    Args& a = c.args;
    Bytes resp;
    const unsigned shape = a.byte() % 3;
    if (shape == 0) {
        resp = a.bytes(a.u16() % 600);
    } else {
        if (kind == 1) { // 81 n data
            Bytes data = a.counted();
            data.resize(std::min<std::size_t>(data.size(), 240));
            resp = append(Bytes{0x81, static_cast<std::uint8_t>(data.size())}, data);
        } else {
            resp = cryptogram(c);
        }
        if (kind != 0 && kind != 3) {
            Builder::Object header{};
            unsigned long headerLen = 0;
            builder(c).SM_MK_Header_Block(cmd, prefix.data(), prefix.size(), header, &headerLen);
            Bytes input(header.begin(), header.begin() + headerLen);
            input = append(input, resp);
            unsigned char mac[8] = {};
            builder(c).mkMAC(input.data(), input.size(), mac);
            resp = append(resp, Bytes{0x8E, 0x08});
            resp.insert(resp.end(), mac, mac + 8);
        }
    }
    if (shape == 2 && !resp.empty()) {
        const std::size_t at = a.byte() % resp.size();
        resp[at] ^= a.byte();
    }
    return resp;
}

void check_out(unsigned long rc, unsigned long outLen, std::size_t room)
{
    if (rc == 0)
        OMBRIX_FUZZ_CHECK(outLen <= room);
}

void response_enc(CommandContext& c)
{
    const Bytes resp = response(c, APDU{}, {}, 0);
    auto in = exact(resp);
    auto out = std::make_unique<unsigned char[]>(resp.size());
    unsigned long outLen = 0;
    check_out(c.r2.Response_SM_ENC(in.get(), resp.size(), out.get(), &outLen), outLen, resp.size());
}

template <bool Enc>
void response_mac(CommandContext& c)
{
    std::vector<unsigned char> data;
    const APDU cmd = command_of(c.args, data);
    const Bytes prefix = c.args.bytes(c.args.byte() % 24);
    const Bytes resp = response(c, cmd, prefix, Enc ? 2 : 1);
    auto in = exact(resp);
    auto pre = exact(prefix);
    auto out = std::make_unique<unsigned char[]>(resp.size());
    unsigned long outLen = 0;
    const unsigned long rc =
        Enc ? c.r2.Response_SM_ENC_SIG(in.get(), resp.size(), cmd, pre.get(), prefix.size(),
                                       out.get(), &outLen)
            : c.r2.Response_SM_SIG(in.get(), resp.size(), cmd, pre.get(), prefix.size(), out.get(),
                                   &outLen);
    check_out(rc, outLen, resp.size());
}

void response_suppressed(CommandContext& c)
{
    Bytes resp = c.args.bytes(c.args.byte());
    if (c.args.flag() && resp.size() >= 2) {
        resp[0] = 0x81;
        resp[1] = static_cast<std::uint8_t>(resp.size() - 2);
    }
    auto in = exact(resp);
    unsigned char len = static_cast<unsigned char>(resp.size());
    if (c.r2.Response_SM_Suppressed(in.get(), &len) == 0)
        OMBRIX_FUZZ_CHECK(len + 2u <= resp.size());
}

void keys3(CommandContext& c)
{
    Bytes k = c.args.bytes(24);
    c.r2.initializeKeysSM(k.data(), k.data() + 8, k.data() + 16);
}

void keys6(CommandContext& c)
{
    Bytes k = c.args.bytes(48);
    c.r2.initializeKeysSM(k.data(), k.data() + 8, k.data() + 16, k.data() + 24, k.data() + 32,
                          k.data() + 40);
}

void init_sm(CommandContext& c)
{
    Bytes p = c.args.bytes(4);
    c.r2.InitSM(p.data(), 1, p.data() + 1, 1, p.data() + 2, 1, p.data() + 3, 1);
    c.r2.RemoveSM();
}

void remove_sm(CommandContext& c) { c.r2.RemoveSM(); }

// A wrapper: its output APDU must fit a short command, and the _4 family's
// data field is the caller's to release.
template <unsigned long (CCardSM::*Wrap)(APDU, APDU&), bool Owned>
void wrap(CommandContext& c)
{
    std::vector<unsigned char> data;
    const APDU in = command_of(c.args, data);
    APDU out{};
    if ((c.r2.*Wrap)(in, out) != 0)
        return;
    OMBRIX_FUZZ_CHECK(out.Lc == 0 || out.data != nullptr);
    volatile unsigned char sink = 0;
    for (unsigned i = 0; i < out.Lc; ++i)
        sink = sink ^ out.data[i];
    if (Owned)
        delete[] out.data;
}

void get_challenge(CommandContext& c)
{
    const unsigned char n = c.args.byte();
    auto buffer = std::make_unique<unsigned char[]>(n);
    c.r2.GetChallenge(n != 0 || c.args.flag() ? buffer.get() : nullptr, n);
}

void give_random(CommandContext& c)
{
    Bytes random = c.args.counted();
    auto buffer = exact(random);
    c.r2.GiveRandom(buffer.get(), static_cast<unsigned char>(random.size()));
}

void memory_size(CommandContext& c)
{
    int size = -1;
    if (c.r2.R23_32_64(&size) == 1)
        OMBRIX_FUZZ_CHECK(size == 32 || size == 64);
}

template <long (CCardSM::*Test)()>
void model(CommandContext& c)
{
    (c.r2.*Test)();
}

// -- the bridge: protected second-generation commands
SMFLAGS g_both{1, 1};

SMFLAGS* flags(CommandContext& c)
{
    static SMFLAGS partial{0, 1};
    switch (c.args.byte() % 4) {
    case 0: return &partial;
    default: return &g_both;
    }
}

void bridge_read_record(CommandContext& c)
{
    auto out = std::make_unique<unsigned char[]>(144);
    unsigned char outLen = 0;
    if (c.r2.cmdREAD_RECORD(c.args.byte(), out.get(), &outLen, flags(c)) == 0)
        OMBRIX_FUZZ_CHECK(outLen <= 144);
}

void bridge_verify(CommandContext& c)
{
    Bytes pin = c.args.counted();
    const unsigned char length = static_cast<unsigned char>(pin.size());
    if (pin.empty()) // a length of 0 says the PIN is a NUL-terminated string
        pin.push_back(0);
    auto buffer = exact(pin);
    c.r2.cmdVERIFY(c.args.byte(), buffer.get(), length, flags(c));
}

void bridge_read_binary(CommandContext& c)
{
    unsigned long length = c.args.u16() % 600;
    auto out = std::make_unique<unsigned char[]>(length);
    c.r2.cmdREAD_BINARY(out.get(), &length, flags(c));
}

void bridge_update_binary(CommandContext& c)
{
    Bytes data = c.args.bytes(c.args.u16() % 600);
    auto buffer = exact(data);
    c.r2.cmdUPDATE_BINARY(buffer.get(), data.size(), flags(c));
}

void bridge_key(CommandContext& c) { c.r2.GetSMKey(); }

void bridge_sequence(CommandContext& c)
{
    // The cached key is used by the next protected command, and dropped on reconnect.
    bridge_read_record(c);
    if (c.args.flag())
        c.r2.ReConnect();
    bridge_verify(c);
}

const CommandEntry kSmTable[] = {
    {"CCardSM", "initializeKeysSM", keys3},
    {"CCardSM", "initializeKeysSM", keys6},
    {"CCardSM", "InitSM", init_sm},
    {"CCardSM", "RemoveSM", remove_sm},
    {"CCardSM", "SM_SIG_4", wrap<&CCardSM::SM_SIG_4, true>},
    {"CCardSM", "SM_ENC_4", wrap<&CCardSM::SM_ENC_4, true>},
    {"CCardSM", "SM_ENC_SIG_4", wrap<&CCardSM::SM_ENC_SIG_4, true>},
    {"CCardSM", "SM_SIG_C", wrap<&CCardSM::SM_SIG_C, false>},
    {"CCardSM", "SM_ENC_C", wrap<&CCardSM::SM_ENC_C, false>},
    {"CCardSM", "SM_ENC_SIG_C", wrap<&CCardSM::SM_ENC_SIG_C, false>},
    {"CCardSM", "Response_SM_ENC", response_enc},
    {"CCardSM", "Response_SM_SIG", response_mac<false>},
    {"CCardSM", "Response_SM_ENC_SIG", response_mac<true>},
    {"CCardSM", "Response_SM_Suppressed", response_suppressed},
    {"CCardSM", "GetChallenge", get_challenge},
    {"CCardSM", "GiveRandom", give_random},
    {"CCardSM", "IsR1", model<&CCardSM::IsR1>},
    {"CCardSM", "IsR2", model<&CCardSM::IsR2>},
    {"CCardSM", "IsR21", model<&CCardSM::IsR21>},
    {"CCardSM", "IsR21v", model<&CCardSM::IsR21v>},
    {"CCardSM", "IsR22", model<&CCardSM::IsR22>},
    {"CCardSM", "IsR23", model<&CCardSM::IsR23>},
    {"CCardSM", "IsR23v", model<&CCardSM::IsR23v>},
    {"CCardSM", "R23_32_64", memory_size},
    {"bridge", "", bridge_read_record},
    {"bridge", "", bridge_verify},
    {"bridge", "", bridge_read_binary},
    {"bridge", "", bridge_update_binary},
    {"bridge", "", bridge_key},
    {"bridge", "", bridge_sequence},
};

} // namespace

std::span<const CommandEntry> sm_table() { return kSmTable; }

} // namespace ombrix::fuzz
