// The element layouts of the personalization commands, one home each: the
// CREATE FILE templates, the FORMAT data, the file-control update, the object
// description and the security-environment description. Every layout is a
// plain run of elements (tag, one length byte, value) in a fixed order.
//
//   ombrix::r2::Field data;
//   ombrix::r2::append_security_environment(data, bSE, record_or(pSEAC, kDefaultSeAc));
//   if (long rc = refusal(data, pSM); rc != 0)
//       return rc; // nothing sent
#pragma once

#include "ombrix/descriptor_codes.h"
#include "ombrix/ombrix_r2.h"

#include <array>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>

namespace ombrix::r2 {

using Bytes = std::span<const unsigned char>;

// A command data field under construction, never longer than one command can
// carry (255 bytes). It may hold PINs and keys: it lives on the stack, never
// reallocates, and is wiped when it goes.
class Field {
public:
    static constexpr std::size_t kCapacity = 255;

    Field() = default;
    ~Field();
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;

    // Tag, length, value. A value of more than 255 bytes, or a field that
    // would pass its capacity, marks the field too long and writes nothing.
    Field& element(unsigned char tag, Bytes value);
    Field& element(unsigned char tag, std::initializer_list<unsigned char> value);
    // Tag, length, `count` bytes of `fill`.
    Field& filled(unsigned char tag, std::size_t count, unsigned char fill);
    // Bytes without tag or length.
    Field& raw(Bytes bytes);
    // A part of the field could not be built: it cannot be sent.
    void mark_too_long() { too_long_ = true; }

    Bytes bytes() const { return {bytes_.data(), size_}; }
    std::size_t size() const { return size_; }
    bool too_long() const { return too_long_; }

private:
    unsigned char* reserve(std::size_t count);

    std::array<unsigned char, kCapacity> bytes_{};
    std::size_t size_ = 0;
    bool too_long_ = false;
};

// The bridge's encipher-and-MAC adds 87 L+1 01, up to 8 padding bytes and
// 8E 08 MAC: more plain data than this do not fit the protected Lc.
constexpr std::size_t kMaxProtectedData = 239;

// 0 when `field` can go as the data of one command (protected when pSM is
// set); else the refusal: OMBRIX_E_R2_DATA_TOO_LONG or OMBRIX_E_SM_DATA_TOO_LONG.
long refusal(const Field& field, const SMFLAGS* pSM);

// A record's bytes, or the default when the caller gave none.
template <class Record>
Bytes record_or(const Record* record, const std::array<unsigned char, sizeof(Record)>& fallback)
{
    if (record == nullptr)
        return fallback;
    return {reinterpret_cast<const unsigned char*>(record), sizeof(Record)};
}
template <class Record>
Bytes record_bytes(const Record& record)
{
    return {reinterpret_cast<const unsigned char*>(&record), sizeof(Record)};
}

// -- CREATE FILE templates: `fid` is 2 bytes, sizes go high byte first.
// 6F 37: 81 02 FF FF, 82 03 38 00 00, 83 fid, 85 03 01 size, 86 09 AC, 8B 18 SM.
void append_create_df(Field& out, unsigned short size, Bytes fid, Bytes ac, Bytes sm);
// 6F 37: 81 02 size, 82 03 type 00 00, 83 fid, 85 03 01 size, 86 09 AC, 8B 18 SM.
void append_create_ef(Field& out, unsigned short size, Bytes fid, unsigned char type, Bytes ac,
                      Bytes sm);
// 62 1B: 81 02 00 00, 82 01 38, 83 fid, 85 03 01 size, 86 09 AC.
void append_create_df_r22(Field& out, unsigned short size, Bytes fid, Bytes ac);
// 62 19: 80 02 size, 82 01 01, 83 fid, 85 01 01, 86 09 AC.
void append_create_ef_r22_bin(Field& out, unsigned short size, Bytes fid, Bytes ac);

// The R22 card's own CREATE FILE templates (COmbrixR22::Create_DF, Create_EF).
// 62 36: 81 02 size, 82 01 38, 83 fid, 85 03 00 size, 86 0A AC, CB 18 SM.
void append_r22_create_df(Field& out, unsigned short size, Bytes fid, Bytes ac, Bytes sm);
// 62 33: 80 02 size, 82 01 type, 83 fid, 85 01 00, 86 09 AC, CB 18 SM.
void append_r22_create_ef(Field& out, unsigned short size, Bytes fid, unsigned char type, Bytes ac,
                          Bytes sm);

// -- FORMAT: 6F 26, 85 03 01 size[0] size[1], 86 09 00.., 8B 14 FF.. (40 bytes).
void append_format_data(Field& out, std::array<unsigned char, 2> size);
// The R22 card's: 62 15, 81 02 04 00, 85 01 01, 86 0A 00.., CB 00 (23 bytes).
void append_r22_format_data(Field& out);

// -- file-control update (PUT DATA 6F): the elements given, in this order:
// 86 AC, `smTag` SM, 84 name.
struct FileControlUpdate {
    std::optional<Bytes> ac{};
    std::optional<Bytes> sm{};
    unsigned char smTag = descriptor::kTagSm;
    std::optional<Bytes> name{};
};
void append_file_control_update(Field& out, const FileControlUpdate& update);

// -- object description (PUT DATA 6E): 83 02 class ref, 85 08 parameters,
// 86 AC, `smTag` SM, 8F value; an element whose part is absent is left out.
using ObjectParameters = std::array<unsigned char, descriptor::kObjectParameterCount>;
struct ObjectDescription {
    unsigned char objectClass = 0;
    unsigned char reference = 0;
    std::optional<ObjectParameters> parameters{};
    Bytes ac{};
    unsigned char smTag = descriptor::kTagSm;
    std::optional<Bytes> sm{};
    std::optional<Bytes> value{};
};
void append_object_description(Field& out, const ObjectDescription& object);

// -- security-environment description (PUT DATA 6D): 83 01 se, 86 02 SEAC,
// 8F 06 00 00 00 00 00 00 (15 bytes).
void append_security_environment(Field& out, unsigned char se, Bytes seac);

// -- sending

// CLA 00 INS P1 P2 with `field` as the data, plain or through the bridge.
// Refuses a field that cannot travel (see refusal) before anything is sent.
long send_field(COmbrixR2& card, unsigned char ins, unsigned char p1, unsigned char p2,
                const Field& field, SMFLAGS* pSM);
// PUT DATA 00 DA 01 p2.
long put_data(COmbrixR2& card, unsigned char p2, const Field& field, SMFLAGS* pSM);

// CREATE FILE (00 E0 00 00) with a file-control template: checked before
// anything is sent (the life-cycle byte included), then the card is taken
// out of the operational phase and the template goes.
long create_file(COmbrixR2& card, const Field& fileControl, SMFLAGS* pSM);

// A logical object (b1..b8 = 02 00 7F 00 FF FF 00 00) with its access
// conditions; it has no secure-messaging element.
void append_logical_object(Field& out, unsigned char reference, const unsigned char* data,
                           unsigned char length, Bytes ac);

} // namespace ombrix::r2
