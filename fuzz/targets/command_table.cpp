// The command target's entries: every public command method of COmbrixR1,
// COmbrixR2 and COmbrixR22, each with its arguments drawn from the input.
// Caller buffers are exactly as large as the method's contract asks (on the
// heap, so that the sanitizers see a byte written past them), and every
// record pointer is either null or a record of its own.
#include "fuzz/harness/fuzz_target.h"
#include "fuzz/targets/dispatch.h"

#include "ombrix/ombrix_r1.h"
#include "ombrix/ombrix_r2.h"
#include "ombrix/ombrix_r22.h"
#include "platform/pcsc.h"
#include "qvbiolib/pb_handle_bir.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace ombrix::fuzz {

namespace {

using R2 = COmbrixR2;
using R22 = COmbrixR22;

// A heap buffer of exactly the argument bytes it was made from (or of n zeros).
class Buffer {
public:
    explicit Buffer(Bytes bytes) : size_(bytes.size()), data_(std::make_unique<unsigned char[]>(size_))
    {
        std::copy(bytes.begin(), bytes.end(), data_.get());
    }
    explicit Buffer(std::size_t n) : size_(n), data_(std::make_unique<unsigned char[]>(n)) {}
    unsigned char* get() { return data_.get(); }
    std::size_t size() const { return size_; }
    unsigned char length() const { return static_cast<unsigned char>(size_); }

private:
    std::size_t size_;
    std::unique_ptr<unsigned char[]> data_;
};

Buffer counted(Args& a) { return Buffer(a.counted()); }
// At least `minimum` bytes: what a method reads whatever its length says.
Buffer at_least(Args& a, std::size_t minimum)
{
    Bytes b = a.counted();
    if (b.size() < minimum)
        b.resize(minimum);
    return Buffer(b);
}

// A descriptor record from the arguments, or none.
template <class Record>
struct Optional {
    std::unique_ptr<Record> record;
    explicit Optional(Args& a)
    {
        if (a.byte() & 1) {
            record = std::make_unique<Record>();
            const Bytes b = a.bytes(sizeof(Record));
            std::memcpy(record.get(), b.data(), sizeof(Record));
        }
    }
    Record* get() { return record.get(); }
};

SMFLAGS g_flags[] = {{1, 1}, {1, 0}, {0, 1}, {0, 0}};

// Plain more often than not, else one of the four flag combinations.
SMFLAGS* sm(Args& a)
{
    const unsigned char b = a.byte();
    return b < 0x80 ? nullptr : &g_flags[b & 3];
}

Bytes key(Args& a) { return a.bytes(8); }

void check_length(long rc, unsigned long length, unsigned long room)
{
    if (rc == 0)
        OMBRIX_FUZZ_CHECK(length <= room);
}

// -- first generation ----------------------------------------------------------

void r1_verify(CommandContext& c) { Buffer b = counted(c.args); c.r1.VerifyPIN(c.args.byte(), b.get(), b.length()); }
void r1_change_pin(CommandContext& c) { Buffer b = counted(c.args); c.r1.ChangePin(c.args.byte(), b.get(), b.length()); }
void r1_change_3des(CommandContext& c) { Buffer b = counted(c.args); c.r1.Change3DES(c.args.byte(), b.get(), b.length()); }
void r1_change_reference(CommandContext& c)
{
    const unsigned char ref = c.args.byte(), p1 = c.args.byte();
    Buffer b = counted(c.args);
    c.r1.ChangeReferenceData(ref, p1, b.get(), b.length());
}
void r1_select(CommandContext& c)
{
    const unsigned char mode = c.args.byte() % 4;
    Buffer b = at_least(c.args, 2);
    c.r1.Select(mode, b.get(), mode == 1 ? c.args.byte() : b.length());
}
void r1_read_binary(CommandContext& c)
{
    unsigned long length = c.args.u16() % 1200;
    Buffer out(length);
    c.r1.ReadBinary(out.get(), &length);
}
void r1_read_binary_ex(CommandContext& c)
{
    unsigned long length = c.args.u16() % 1200;
    const unsigned long room = length;
    Buffer out(length);
    check_length(c.r1.ReadBinaryEx(out.get(), &length), length, room);
}
void r1_update_binary(CommandContext& c)
{
    Buffer b(c.args.bytes(c.args.u16() % 1200));
    c.r1.UpdateBinary(b.get(), b.size());
}
void r1_append_record(CommandContext& c) { Buffer b = counted(c.args); c.r1.AppendRecord(b.get(), b.length()); }
void r1_read_record(CommandContext& c)
{
    Buffer out(255);
    unsigned char length = 0;
    c.r1.ReadRecord(c.args.byte(), out.get(), &length);
}
void r1_update_record(CommandContext& c)
{
    const unsigned char rec = c.args.byte();
    Buffer b = counted(c.args);
    c.r1.UpdateRecord(rec, b.get(), b.length());
}
void r1_write_file(CommandContext& c)
{
    Buffer b(c.args.bytes(c.args.u16() % 1200));
    c.r1.WriteBinaryFile(b.get(), b.size());
}
void r1_read_file(CommandContext& c)
{
    unsigned long length = c.args.u16() % 1200;
    const unsigned long room = length;
    Buffer out(length);
    check_length(c.r1.ReadBinaryFile(out.get(), &length), length, room);
}
void r1_delete_file(CommandContext& c) { Buffer fid(c.args.bytes(2)); c.r1.DeleteFileA(fid.get()); }
void r1_create_file(CommandContext& c)
{
    const unsigned char fdb = c.args.byte();
    const int access = c.args.byte() & 1;
    const long size = static_cast<long>(static_cast<std::int32_t>(c.args.u32()) >> (c.args.byte() % 24));
    Buffer fid(c.args.bytes(2));
    c.r1.CreateFileA(fdb, access, size, fid.get(), c.args.byte());
}
void r1_get_data_stato(CommandContext& c)
{
    const long rc = c.r1.GetData_Stato();
    (void)rc;
}
void r1_phase_control(CommandContext& c) { c.r1.PhaseControl(); }
void r1_reset_security(CommandContext& c) { c.r1.ResetSecurityState(); }
void r1_reset_retry(CommandContext& c) { c.r1.ResetRetryCounter(c.args.byte()); }
void r1_apply_3des(CommandContext& c)
{
    const int mode = c.args.byte() % 3;
    const unsigned char keyRef = c.args.byte();
    Buffer data = counted(c.args);
    Buffer out(255);
    unsigned char length = 0;
    c.r1.Apply3Des(mode, keyRef, data.get(), data.length(), out.get(), &length);
}

// -- second generation: operational commands ---------------------------------------

using Pso = long (R2::*)(unsigned char, unsigned char, unsigned char*, unsigned char, unsigned char*,
                         unsigned char*, SMFLAGS*);
template <Pso Method>
void r2_pso(CommandContext& c)
{
    const unsigned char se = c.args.byte(), keyRef = c.args.byte();
    Buffer data = counted(c.args);
    Buffer out(144); // Le 90
    unsigned char length = 0;
    (c.r2.*Method)(se, keyRef, data.get(), data.length(), out.get(), &length, sm(c.args));
}
void r2_verify(CommandContext& c)
{
    const unsigned char ref = c.args.byte();
    Bytes pin = c.args.counted();
    // A length of 0 says the PIN is a NUL-terminated string.
    const bool text = c.args.flag() || pin.empty();
    if (text) {
        std::replace(pin.begin(), pin.end(), std::uint8_t{0}, std::uint8_t{'1'});
        pin.push_back(0);
    }
    Buffer b(pin);
    c.r2.cmdVERIFY(ref, b.get(), text ? 0 : b.length(), sm(c.args));
}
void r2_verify_ex(CommandContext& c)
{
    const unsigned char ref = c.args.byte();
    Buffer b(c.args.bytes(c.args.u16() % 800));
    c.r2.cmdVERIFYex(ref, b.get(), b.size(), sm(c.args));
}
R2::t_PARAM select_mode(Args& a) { return static_cast<R2::t_PARAM>(a.byte() % 12); }
void r2_select(CommandContext& c)
{
    const R2::t_PARAM mode = select_mode(c.args);
    Buffer b = at_least(c.args, 2);
    c.r2.cmdSELECT_FILE(mode, b.get(), b.length(), sm(c.args));
}
void r2_file_size(CommandContext& c)
{
    const R2::t_PARAM mode = select_mode(c.args);
    Buffer b = at_least(c.args, 2);
    unsigned long size = 0;
    c.r2.cmdGET_FILE_SIZE(mode, b.get(), b.length(), &size, sm(c.args));
}
void r2_read_binary(CommandContext& c)
{
    unsigned long length = c.args.u16() % 1200;
    Buffer out(length);
    c.r2.cmdREAD_BINARY(out.get(), &length, sm(c.args));
}
void r2_read_binary_ex(CommandContext& c)
{
    unsigned long length = c.args.u16() % 1200;
    const unsigned long room = length;
    Buffer out(length);
    check_length(c.r2.ReadBinaryEx(out.get(), &length, sm(c.args)), length, room);
}
void r2_update_binary(CommandContext& c)
{
    Buffer b(c.args.bytes(c.args.u16() % 1200));
    c.r2.cmdUPDATE_BINARY(b.get(), b.size(), sm(c.args));
}
void r2_write_file(CommandContext& c)
{
    Buffer b(c.args.bytes(c.args.u16() % 1200));
    c.r2.WriteBinaryFile(b.get(), b.size(), sm(c.args));
}
void r2_read_file(CommandContext& c)
{
    unsigned long length = c.args.u16() % 1200;
    const unsigned long room = length;
    Buffer out(length);
    const bool size_only = c.args.flag();
    check_length(c.r2.ReadBinaryFile(size_only ? nullptr : out.get(), &length, sm(c.args)),
                 size_only ? 0 : length, room);
}
void r2_append_record(CommandContext& c) { Buffer b = counted(c.args); c.r2.cmdAPPEND_RECORD(b.get(), b.length(), sm(c.args)); }
void r2_update_record(CommandContext& c)
{
    const unsigned char rec = c.args.byte();
    Buffer b = counted(c.args);
    c.r2.cmdUPDATE_RECORD(rec, b.get(), b.length(), sm(c.args));
}
void r2_read_record(CommandContext& c)
{
    Buffer out(144); // Le 90
    unsigned char length = 0;
    check_length(c.r2.cmdREAD_RECORD(c.args.byte(), out.get(), &length, sm(c.args)), length, 144);
}
void r2_delete_file(CommandContext& c) { Buffer fid(c.args.bytes(2)); c.r2.cmdDELETE_FILE(fid.get(), sm(c.args)); }
void r2_verify_smoc(CommandContext& c)
{
    PbHandleBir bir;
    const Bytes record = c.args.bytes(PbHandleBir::kRecordSize);
    if (c.args.flag())
        bir.from_bytes(record.data(), record.size());
    bir.set_transmit(platform::pcsc().Transmit);
    c.r2.cmdVERIFYSMOC(c.args.byte(), bir);
}
R2::t_OBJCLASS object_class(Args& a) { return static_cast<R2::t_OBJCLASS>(a.byte()); }
R2::t_MECHANISM mechanism(Args& a) { return static_cast<R2::t_MECHANISM>(a.byte()); }
// A length of any value, with a buffer as long as it says when it is 0 to 255.
struct LongData {
    long length;
    Buffer buffer;
    explicit LongData(Args& a)
        : length(static_cast<long>(static_cast<std::int16_t>(a.u16()))),
          buffer(a.bytes(length >= 0 && length <= 255 ? static_cast<std::size_t>(length) : 4))
    {
    }
};
void r2_change_reference(CommandContext& c)
{
    const unsigned char ref = c.args.byte();
    const R2::t_OBJCLASS cls = object_class(c.args);
    LongData data(c.args);
    const R2::t_MECHANISM p1 = mechanism(c.args), p2 = mechanism(c.args);
    c.r2.cmdCHANGE_REFERENCE_DATA(ref, cls, data.buffer.get(), data.length, p1, p2, sm(c.args));
}
void r2_change_pin(CommandContext& c)
{
    const unsigned char ref = c.args.byte();
    Buffer b = counted(c.args);
    c.r2.ChangePin(ref, b.get(), b.length(), sm(c.args));
}
void r2_reset_retry(CommandContext& c) { c.r2.cmdRESET_RETRY_COUNTER(c.args.byte(), sm(c.args)); }
void r2_reset_retry_data(CommandContext& c)
{
    const unsigned char mode = c.args.byte(), ref = c.args.byte();
    Buffer b = counted(c.args);
    c.r2.cmdRESET_RETRY_COUNTER(mode, ref, b.get(), b.length(), sm(c.args));
}
void r2_reset_security(CommandContext& c) { c.r2.cmdRESET_SECURITY_STATUS(sm(c.args)); }
void r2_get_challenge(CommandContext& c)
{
    unsigned long wanted = c.args.u16() % 1200;
    const unsigned long room = wanted;
    Buffer out(wanted);
    c.r2.cmdGETCHALLENGE(out.get(), &wanted);
    OMBRIX_FUZZ_CHECK(wanted <= room);
}
void r2_external_auth(CommandContext& c)
{
    const unsigned char keyRef = c.args.byte();
    Buffer b = counted(c.args);
    c.r2.cmdEXTERNAL_AUTHENTICATE(keyRef, b.get(), b.length());
}
void r2_access_granted(CommandContext& c) { c.r2.Is_AccessGranted(c.args.byte()); }
void r2_generate_key_pair(CommandContext& c)
{
    Buffer id(c.args.bytes(2));
    const unsigned char keyNo = c.args.byte();
    Buffer exponent = counted(c.args);
    c.r2.cmdGENERATE_KEY_PAIR(id.get(), keyNo, exponent.size() ? exponent.get() : nullptr, exponent.length());
}
void r2_get_sm_key(CommandContext& c) { c.r2.GetSMKey(); }
void r2_mse_restore(CommandContext& c) { c.r2.cmdMSE(c.args.byte()); }
void r2_mse_set(CommandContext& c)
{
    static constexpr R2::t_MSE_CSETAG kTags[] = {R2::CSE_AT, R2::CSE_DST, R2::CSE_CT};
    const R2::t_MSE_CSETAG tag = kTags[c.args.byte() % 3];
    c.r2.cmdMSE(tag, c.args.byte());
}
void r2_get_data(CommandContext& c)
{
    const unsigned char tag = c.args.byte();
    unsigned char capacity = c.args.byte();
    Buffer out(capacity);
    c.r2.cmdGETDATA(tag, c.args.flag() ? nullptr : out.get(), &capacity);
}
void r2_life_cycle(CommandContext& c)
{
    const long rc = c.r2.GetLifeCycle();
    (void)rc;
}
void r2_uid(CommandContext& c)
{
    long length = static_cast<std::int8_t>(c.args.byte());
    Buffer out(length > 0 ? static_cast<std::size_t>(length) : 0);
    if (c.r2.GetUID(length > 0 ? out.get() : nullptr, length) == 0)
        OMBRIX_FUZZ_CHECK(length == 7);
}
void r2_phase_control(CommandContext& c) { c.r2.cmdPHASE_CONTROL(); }
void r2_increase(CommandContext& c) { c.r2.cmdINCREASE(c.args.u32()); }

// -- second generation: personalization -------------------------------------------

void r2_format(CommandContext& c) { c.r2.cmdFORMAT(); }
void r2_format_keys(CommandContext& c)
{
    Buffer size(c.args.bytes(2));
    Bytes k1 = key(c.args), k2 = key(c.args);
    const bool keys = c.args.flag();
    Optional<MFAC> ac(c.args);
    Optional<MFSM> smr(c.args);
    c.r2.cmdFORMAT(size.get(), keys ? k1.data() : nullptr, keys ? k2.data() : nullptr, ac.get(), smr.get(), sm(c.args));
}
void r2_erase_keys(CommandContext& c)
{
    Bytes k1 = key(c.args), k2 = key(c.args);
    c.r2.cmdERASE_FILE(k1.data(), k2.data());
}
void r2_erase(CommandContext& c) { c.r2.cmdERASE_FILE(); }
void r2_erase_22(CommandContext& c) { c.r2.EraseFilesR2_2(); }
void r2_create_df(CommandContext& c)
{
    const unsigned short size = c.args.u16();
    Buffer fid(c.args.bytes(2));
    Optional<DFAC> ac(c.args);
    Optional<DFSM> smr(c.args);
    c.r2.Create_DF(size, fid.get(), ac.get(), smr.get(), sm(c.args));
}
R2::t_FILE file_type(Args& a) { return static_cast<R2::t_FILE>(a.byte()); }
void r2_create_ef(CommandContext& c)
{
    const unsigned short size = c.args.u16();
    Buffer fid(c.args.bytes(2));
    const R2::t_FILE type = file_type(c.args);
    Optional<EFAC> ac(c.args);
    Optional<EFSM> smr(c.args);
    c.r2.Create_EF(size, fid.get(), type, ac.get(), smr.get(), sm(c.args));
}
void r2_create_df_r22(CommandContext& c)
{
    const unsigned short size = c.args.u16();
    Buffer fid(c.args.bytes(2));
    Optional<DFAC> ac(c.args);
    c.r2.Create_DF_R22(size, fid.get(), ac.get());
}
void r2_create_ef_r22(CommandContext& c)
{
    const unsigned short size = c.args.u16();
    Buffer fid(c.args.bytes(2));
    const R2::t_FILE type = file_type(c.args);
    Optional<EFAC> ac(c.args);
    c.r2.Create_EF_R22_BIN(size, fid.get(), type, ac.get());
}
template <class Record>
void r2_put_fci(CommandContext& c)
{
    Optional<Record> r(c.args);
    c.r2.cmdPUT_DATA_FCI(r.get(), sm(c.args));
}
void r2_put_fci_name(CommandContext& c)
{
    Buffer name = counted(c.args);
    c.r2.cmdPUT_DATA_FCI(name.get(), name.length(), sm(c.args));
}
void r2_change_ac_ef(CommandContext& c)
{
    Optional<EFAC> ac(c.args);
    Optional<EFSM> smr(c.args);
    c.r2.Change_AC(ac.get(), smr.get(), sm(c.args));
}
void r2_change_ac_mf(CommandContext& c)
{
    Optional<MFAC> ac(c.args);
    Optional<MFSM> smr(c.args);
    c.r2.Change_AC(ac.get(), smr.get(), sm(c.args));
}
void r2_change_ac_df(CommandContext& c)
{
    Optional<DFAC> ac(c.args);
    Optional<DFSM> smr(c.args);
    Buffer name = counted(c.args);
    const bool named = c.args.flag();
    c.r2.Change_AC(ac.get(), smr.get(), named ? reinterpret_cast<const char*>(name.get()) : nullptr,
                   name.length(), sm(c.args));
}
void r2_change_df_name(CommandContext& c)
{
    Buffer name = counted(c.args);
    c.r2.Change_DFName(name.get(), name.length(), sm(c.args));
}
R2::t_ALGO algo(Args& a) { return static_cast<R2::t_ALGO>(a.byte()); }
void r2_put_oci(CommandContext& c)
{
    const unsigned char ref = c.args.byte();
    const R2::t_OBJCLASS cls = object_class(c.args);
    const R2::t_ALGO al = algo(c.args);
    Buffer data = counted(c.args);
    Optional<BSAC> ac(c.args);
    Optional<BSSM> smr(c.args);
    c.r2.cmdPUT_DATA_OCI(ref, cls, al, data.get(), data.length(), ac.get(), smr.get(), sm(c.args));
}
template <class Card, class Ac, class Sm>
void init_pin(Card& card, Args& a)
{
    const unsigned char ref = a.byte();
    Buffer pin = counted(a);
    const unsigned char counter = a.byte(), minimum = a.byte();
    Optional<Ac> ac(a);
    Optional<Sm> smr(a);
    card.Init_PIN(ref, pin.get(), pin.length(), counter, minimum, ac.get(), smr.get(), sm(a));
}
void r2_init_pin(CommandContext& c) { init_pin<R2, BSAC, BSSM>(c.r2, c.args); }
void r2_init_pin_ex(CommandContext& c)
{
    const unsigned char ref = c.args.byte();
    LongData data(c.args);
    const auto device = static_cast<R2::t_DEVICE>(c.args.byte());
    const int cls = static_cast<std::int16_t>(c.args.u16());
    const int flag = c.args.byte();
    Optional<BSAC> ac(c.args);
    Optional<BSSM> smr(c.args);
    c.r2.Init_PINex(ref, data.buffer.get(), static_cast<unsigned long>(data.length), device, cls, flag,
                    ac.get(), smr.get(), sm(c.args));
}
template <class Card, class Ac, class Sm>
void init_logical(Card& card, Args& a)
{
    const unsigned char ref = a.byte();
    Buffer data = counted(a);
    Optional<Ac> ac(a);
    Optional<Sm> smr(a);
    card.Init_Logical(ref, data.get(), data.length(), ac.get(), smr.get(), sm(a));
}
void r2_init_logical(CommandContext& c) { init_logical<R2, BSAC, BSSM>(c.r2, c.args); }
template <class Card, class Ac, class Sm>
void create_kpri(Card& card, Args& a)
{
    const unsigned char ref = a.byte();
    const R2::t_ALGO al = algo(a);
    const unsigned char length = a.byte();
    const int flag = a.byte();
    Optional<Ac> ac(a);
    Optional<Sm> smr(a);
    card.Create_Kpri(ref, al, length, flag, ac.get(), smr.get(), sm(a));
}
void r2_create_kpri(CommandContext& c) { create_kpri<R2, BSAC, BSSM>(c.r2, c.args); }
void r2_create_kpub_test(CommandContext& c)
{
    const unsigned char ref = c.args.byte();
    Buffer d1 = counted(c.args), d2 = counted(c.args);
    Optional<BSAC> ac(c.args);
    Optional<BSSM> smr(c.args);
    c.r2.Create_Kpub_TestObj(ref, d1.get(), d1.length(), d2.get(), d2.length(), ac.get(), smr.get(), sm(c.args));
}
void r2_create_kpub(CommandContext& c)
{
    Buffer fid(c.args.bytes(2));
    const unsigned short length = c.args.u16();
    Optional<EFAC> ac(c.args);
    c.r2.Create_Kpub(fid.get(), length, ac.get());
}
void r2_put_seci(CommandContext& c)
{
    const unsigned char se = c.args.byte();
    Optional<SEAC> ac(c.args);
    c.r2.cmdPUT_DATA_SECI(se, ac.get(), sm(c.args));
}
void r2_put_dsi(CommandContext& c)
{
    long length = 0;
    c.r2.cmdPUT_DATA_DSI(&length, c.args.byte() % 3);
}
R2::t_CHANGEKEYID key_id(Args& a) { return static_cast<R2::t_CHANGEKEYID>(a.byte()); }
void r2_change_key_keys(CommandContext& c)
{
    Bytes k1 = key(c.args), k2 = key(c.args), n1 = key(c.args), n2 = key(c.args);
    const bool keys = c.args.flag();
    c.r2.cmdCHANGE_KEY(keys ? k1.data() : nullptr, keys ? k2.data() : nullptr, n1.data(), n2.data(), key_id(c.args));
}
void r2_change_key_default(CommandContext& c)
{
    Bytes n1 = key(c.args), n2 = key(c.args);
    c.r2.cmdCHANGE_KEY(n1.data(), n2.data(), key_id(c.args));
}
void r2_change_key_data(CommandContext& c)
{
    Buffer data = counted(c.args);
    c.r2.cmdCHANGE_KEY(data.get(), data.length(), key_id(c.args));
}

// -- packages and channels ------------------------------------------------------

void r2_load_executable(CommandContext& c)
{
    Buffer data = counted(c.args);
    const unsigned char p1 = c.args.byte(), p2 = c.args.byte();
    c.r2.cmdLOAD_EXECUTABLE(data.get(), data.length(), p1, p2);
}
void r2_packages(CommandContext& c)
{
    auto packages = std::make_unique<PACKAGE[]>(21);
    int count = -1;
    const bool count_only = c.args.flag();
    if (c.r2.GetPackages(count_only ? nullptr : packages.get(), &count) == 0)
        OMBRIX_FUZZ_CHECK(count >= 0 && count <= 21);
}
void r2_package_present(CommandContext& c)
{
    const PACKAGE package{c.args.byte(), c.args.byte()};
    const int present = c.r2.IsPackagePresent(package);
    OMBRIX_FUZZ_CHECK(present == 0 || present == 1);
}
void r2_load_gen_key(CommandContext& c) { c.r2.LoadGenKey(); }
void r2_channel_package(CommandContext& c) { c.r2.ManageChannelPackage(); }
void r2_open_channel(CommandContext& c)
{
    unsigned char channel = c.args.byte() % 24;
    c.r2.OpenChannel(c.args.flag() ? nullptr : &channel);
}
void r2_close_channel(CommandContext& c) { c.r2.CloseChannel(c.args.byte() % 24); }

// -- the R22 class ---------------------------------------------------------------

void r22_format(CommandContext& c)
{
    const bool size = c.args.flag();
    Buffer bytes(c.args.bytes(2));
    Bytes k1 = key(c.args), k2 = key(c.args);
    const bool keys = c.args.flag();
    Optional<MFAC> ac(c.args);
    Optional<MFSM> smr(c.args);
    c.r22.cmdFORMAT(size ? bytes.get() : nullptr, keys ? k1.data() : nullptr, keys ? k2.data() : nullptr,
                    ac.get(), smr.get(), sm(c.args));
}
void r22_system_key(CommandContext& c) { Buffer data(c.args.bytes(32)); c.r22.cmdCHANGE_SYSTEM_KEY(data.get()); }
void r22_system_key_keys(CommandContext& c)
{
    Bytes k1 = key(c.args), k2 = key(c.args), n1 = key(c.args), n2 = key(c.args);
    const bool keys = c.args.flag();
    c.r22.cmdCHANGE_SYSTEM_KEY(keys ? k1.data() : nullptr, keys ? k2.data() : nullptr, n1.data(), n2.data(),
                               key_id(c.args));
}
void r22_system_key_data(CommandContext& c)
{
    Buffer data = counted(c.args);
    c.r22.cmdCHANGE_SYSTEM_KEY(data.get(), data.length(), key_id(c.args));
}
void r22_init_pin(CommandContext& c) { init_pin<R22, R22::BSACR22, R22::BSSMR22>(c.r22, c.args); }
void r22_init_logical(CommandContext& c) { init_logical<R22, R22::BSACR22, R22::BSSMR22>(c.r22, c.args); }
void r22_create_kpri(CommandContext& c) { create_kpri<R22, R22::BSACR22, R22::BSSMR22>(c.r22, c.args); }
void r22_create_kpub(CommandContext& c)
{
    Buffer fid(c.args.bytes(2));
    const unsigned short length = c.args.u16();
    Optional<R22::EFACR22> ac(c.args);
    c.r22.Create_Kpub(fid.get(), length, ac.get());
}
void r22_create_df(CommandContext& c)
{
    const unsigned short size = c.args.u16();
    Buffer fid(c.args.bytes(2));
    Optional<R22::DFACR22> ac(c.args);
    Optional<R22::DFSMR22> smr(c.args);
    c.r22.Create_DF(size, fid.get(), ac.get(), smr.get(), sm(c.args));
}
void r22_create_ef(CommandContext& c)
{
    const unsigned short size = c.args.u16();
    Buffer fid(c.args.bytes(2));
    const R2::t_FILE type = file_type(c.args);
    Optional<R22::EFACR22> ac(c.args);
    Optional<R22::EFSMR22> smr(c.args);
    c.r22.Create_EF(size, fid.get(), type, ac.get(), smr.get(), sm(c.args));
}
void r22_put_fci(CommandContext& c)
{
    Optional<R22::DFACR22> ac(c.args);
    c.r22.cmdPUT_DATA_FCI(ac.get(), sm(c.args));
}
void r22_change_key_data(CommandContext& c)
{
    const unsigned char ref = c.args.byte();
    const R2::t_OBJCLASS cls = object_class(c.args);
    LongData data(c.args);
    const R2::t_MECHANISM p1 = mechanism(c.args), p2 = mechanism(c.args);
    c.r22.cmdCHANGE_KEY_DATA(ref, cls, data.buffer.get(), data.length, p1, p2, sm(c.args));
}

const CommandEntry kCommands[] = {
    {"COmbrixR1", "VerifyPIN", r1_verify},
    {"COmbrixR1", "ChangePin", r1_change_pin},
    {"COmbrixR1", "Change3DES", r1_change_3des},
    {"COmbrixR1", "ChangeReferenceData", r1_change_reference},
    {"COmbrixR1", "Select", r1_select},
    {"COmbrixR1", "ReadBinary", r1_read_binary},
    {"COmbrixR1", "ReadBinaryEx", r1_read_binary_ex},
    {"COmbrixR1", "UpdateBinary", r1_update_binary},
    {"COmbrixR1", "AppendRecord", r1_append_record},
    {"COmbrixR1", "ReadRecord", r1_read_record},
    {"COmbrixR1", "UpdateRecord", r1_update_record},
    {"COmbrixR1", "WriteBinaryFile", r1_write_file},
    {"COmbrixR1", "ReadBinaryFile", r1_read_file},
    {"COmbrixR1", "DeleteFileA", r1_delete_file},
    {"COmbrixR1", "CreateFileA", r1_create_file},
    {"COmbrixR1", "GetData_Stato", r1_get_data_stato},
    {"COmbrixR1", "PhaseControl", r1_phase_control},
    {"COmbrixR1", "ResetSecurityState", r1_reset_security},
    {"COmbrixR1", "ResetRetryCounter", r1_reset_retry},
    {"COmbrixR1", "Apply3Des", r1_apply_3des},

    {"COmbrixR2", "cmdPSO_DEC", r2_pso<&R2::cmdPSO_DEC>},
    {"COmbrixR2", "cmdPSO_ENC", r2_pso<&R2::cmdPSO_ENC>},
    {"COmbrixR2", "cmdPSO_DEC_ISO", r2_pso<&R2::cmdPSO_DEC_ISO>},
    {"COmbrixR2", "cmdPSO_ENC_ISO", r2_pso<&R2::cmdPSO_ENC_ISO>},
    {"COmbrixR2", "cmdVERIFY", r2_verify},
    {"COmbrixR2", "cmdVERIFYex", r2_verify_ex},
    {"COmbrixR2", "cmdSELECT_FILE", r2_select},
    {"COmbrixR2", "cmdGET_FILE_SIZE", r2_file_size},
    {"COmbrixR2", "cmdREAD_BINARY", r2_read_binary},
    {"COmbrixR2", "ReadBinaryEx", r2_read_binary_ex},
    {"COmbrixR2", "cmdUPDATE_BINARY", r2_update_binary},
    {"COmbrixR2", "WriteBinaryFile", r2_write_file},
    {"COmbrixR2", "ReadBinaryFile", r2_read_file},
    {"COmbrixR2", "cmdAPPEND_RECORD", r2_append_record},
    {"COmbrixR2", "cmdUPDATE_RECORD", r2_update_record},
    {"COmbrixR2", "cmdREAD_RECORD", r2_read_record},
    {"COmbrixR2", "cmdDELETE_FILE", r2_delete_file},
    {"COmbrixR2", "cmdVERIFYSMOC", r2_verify_smoc},
    {"COmbrixR2", "cmdCHANGE_REFERENCE_DATA", r2_change_reference},
    {"COmbrixR2", "ChangePin", r2_change_pin},
    {"COmbrixR2", "cmdRESET_RETRY_COUNTER", r2_reset_retry},
    {"COmbrixR2", "cmdRESET_RETRY_COUNTER", r2_reset_retry_data},
    {"COmbrixR2", "cmdRESET_SECURITY_STATUS", r2_reset_security},
    {"COmbrixR2", "cmdGETCHALLENGE", r2_get_challenge},
    {"COmbrixR2", "cmdEXTERNAL_AUTHENTICATE", r2_external_auth},
    {"COmbrixR2", "Is_AccessGranted", r2_access_granted},
    {"COmbrixR2", "cmdPSO_CDS", r2_pso<&R2::cmdPSO_CDS>},
    {"COmbrixR2", "cmdPSO_CDS_ALGO08", r2_pso<&R2::cmdPSO_CDS_ALGO08>},
    {"COmbrixR2", "cmdGENERATE_KEY_PAIR", r2_generate_key_pair},
    {"COmbrixR2", "GetSMKey", r2_get_sm_key},
    {"COmbrixR2", "cmdMSE", r2_mse_restore},
    {"COmbrixR2", "cmdMSE", r2_mse_set},
    {"COmbrixR2", "cmdGETDATA", r2_get_data},
    {"COmbrixR2", "GetLifeCycle", r2_life_cycle},
    {"COmbrixR2", "GetUID", r2_uid},
    {"COmbrixR2", "cmdPHASE_CONTROL", r2_phase_control},
    {"COmbrixR2", "cmdINCREASE", r2_increase},
    {"COmbrixR2", "cmdFORMAT", r2_format},
    {"COmbrixR2", "cmdFORMAT", r2_format_keys},
    {"COmbrixR2", "cmdERASE_FILE", r2_erase_keys},
    {"COmbrixR2", "cmdERASE_FILE", r2_erase},
    {"COmbrixR2", "EraseFilesR2_2", r2_erase_22},
    {"COmbrixR2", "Create_DF", r2_create_df},
    {"COmbrixR2", "Create_EF", r2_create_ef},
    {"COmbrixR2", "Create_DF_R22", r2_create_df_r22},
    {"COmbrixR2", "Create_EF_R22_BIN", r2_create_ef_r22},
    {"COmbrixR2", "cmdPUT_DATA_FCI", r2_put_fci<DFAC>},
    {"COmbrixR2", "cmdPUT_DATA_FCI", r2_put_fci<EFAC>},
    {"COmbrixR2", "cmdPUT_DATA_FCI", r2_put_fci<DFSM>},
    {"COmbrixR2", "cmdPUT_DATA_FCI", r2_put_fci<EFSM>},
    {"COmbrixR2", "cmdPUT_DATA_FCI", r2_put_fci_name},
    {"COmbrixR2", "Change_AC", r2_change_ac_ef},
    {"COmbrixR2", "Change_AC", r2_change_ac_mf},
    {"COmbrixR2", "Change_AC", r2_change_ac_df},
    {"COmbrixR2", "Change_DFName", r2_change_df_name},
    {"COmbrixR2", "cmdPUT_DATA_OCI", r2_put_oci},
    {"COmbrixR2", "Init_PIN", r2_init_pin},
    {"COmbrixR2", "Init_PINex", r2_init_pin_ex},
    {"COmbrixR2", "Init_Logical", r2_init_logical},
    {"COmbrixR2", "Create_Kpri", r2_create_kpri},
    {"COmbrixR2", "Create_Kpub_TestObj", r2_create_kpub_test},
    {"COmbrixR2", "Create_Kpub", r2_create_kpub},
    {"COmbrixR2", "cmdPUT_DATA_SECI", r2_put_seci},
    {"COmbrixR2", "cmdPUT_DATA_DSI", r2_put_dsi},
    {"COmbrixR2", "cmdCHANGE_KEY", r2_change_key_keys},
    {"COmbrixR2", "cmdCHANGE_KEY", r2_change_key_default},
    {"COmbrixR2", "cmdCHANGE_KEY", r2_change_key_data},
    {"COmbrixR2", "cmdLOAD_EXECUTABLE", r2_load_executable},
    {"COmbrixR2", "GetPackages", r2_packages},
    {"COmbrixR2", "IsPackagePresent", r2_package_present},
    {"COmbrixR2", "LoadGenKey", r2_load_gen_key},
    {"COmbrixR2", "ManageChannelPackage", r2_channel_package},
    {"COmbrixR2", "OpenChannel", r2_open_channel},
    {"COmbrixR2", "CloseChannel", r2_close_channel},

    {"COmbrixR22", "cmdFORMAT", r22_format},
    {"COmbrixR22", "cmdCHANGE_SYSTEM_KEY", r22_system_key},
    {"COmbrixR22", "cmdCHANGE_SYSTEM_KEY", r22_system_key_keys},
    {"COmbrixR22", "cmdCHANGE_SYSTEM_KEY", r22_system_key_data},
    {"COmbrixR22", "Init_PIN", r22_init_pin},
    {"COmbrixR22", "Init_Logical", r22_init_logical},
    {"COmbrixR22", "Create_Kpri", r22_create_kpri},
    {"COmbrixR22", "Create_Kpub", r22_create_kpub},
    {"COmbrixR22", "Create_DF", r22_create_df},
    {"COmbrixR22", "Create_EF", r22_create_ef},
    {"COmbrixR22", "cmdPUT_DATA_FCI", r22_put_fci},
    {"COmbrixR22", "cmdCHANGE_KEY_DATA", r22_change_key_data},
};

} // namespace

std::span<const CommandEntry> command_table() { return kCommands; }

} // namespace ombrix::fuzz
