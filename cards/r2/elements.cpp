#include "cards/r2/elements.h"

#include "cards/r2/life_cycle.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"
#include "shell/secure_zero.h"

#include <algorithm>
#include <cstring>

namespace ombrix::r2 {

namespace {
constexpr unsigned char kInsCreateFile = 0xE0;
}

namespace d = ombrix::descriptor;

namespace {

constexpr unsigned char kInsPutData = 0xDA;
constexpr unsigned char kDfSizeUnused = 0xFF;  // 81 FF FF: a DF's size travels in 85
constexpr unsigned char kSizeInProprietary = 0x01;
constexpr std::size_t kFormatSmBytes = 20;     // the 8B element of FORMAT is shorter than an MFSM
constexpr std::size_t kEnvironmentValueBytes = 6;
// The R22 card's 85 element carries 00 where the second generation has 01.
constexpr unsigned char kR22SizeInProprietary = 0x00;
// An R22 card is always formatted with an MF of 04 00 bytes, whose ten access
// conditions are all 00 and whose SM requirements are empty.
constexpr std::array<unsigned char, 2> kR22FormatSize = {0x04, 0x00};
constexpr std::size_t kR22FormatAcBytes = 10;

std::array<unsigned char, 2> high_first(unsigned short value)
{
    return {static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

// Builds the elements into `inner`, then wraps them in the outer template.
template <class Body>
void append_template(Field& out, unsigned char outerTag, Body&& body)
{
    Field inner;
    body(inner);
    if (inner.too_long())
        out.mark_too_long();
    else
        out.element(outerTag, inner.bytes());
}

} // namespace

Field::~Field()
{
    secure_zero(bytes_.data(), bytes_.size());
}

unsigned char* Field::reserve(std::size_t count)
{
    if (too_long_ || count > kCapacity - size_) {
        too_long_ = true;
        return nullptr;
    }
    unsigned char* at = bytes_.data() + size_;
    size_ += count;
    return at;
}

Field& Field::element(unsigned char tag, Bytes value)
{
    if (value.size() > 255) {
        too_long_ = true;
        return *this;
    }
    if (unsigned char* at = reserve(2 + value.size())) {
        at[0] = tag;
        at[1] = static_cast<unsigned char>(value.size());
        if (!value.empty())
            std::memcpy(at + 2, value.data(), value.size());
    }
    return *this;
}

Field& Field::element(unsigned char tag, std::initializer_list<unsigned char> value)
{
    return element(tag, Bytes(value.begin(), value.size()));
}

Field& Field::filled(unsigned char tag, std::size_t count, unsigned char fill)
{
    if (count > 255) {
        too_long_ = true;
        return *this;
    }
    if (unsigned char* at = reserve(2 + count)) {
        at[0] = tag;
        at[1] = static_cast<unsigned char>(count);
        std::fill_n(at + 2, count, fill);
    }
    return *this;
}

Field& Field::raw(Bytes bytes)
{
    if (unsigned char* at = reserve(bytes.size()); at != nullptr && !bytes.empty())
        std::memcpy(at, bytes.data(), bytes.size());
    return *this;
}

long refusal(const Field& field, const SMFLAGS* pSM)
{
    if (field.too_long())
        return OMBRIX_E_R2_DATA_TOO_LONG;
    if (pSM != nullptr && field.size() > kMaxProtectedData)
        return OMBRIX_E_SM_DATA_TOO_LONG;
    return 0;
}

void append_create_df(Field& out, unsigned short size, Bytes fid, Bytes ac, Bytes sm)
{
    const auto s = high_first(size);
    append_template(out, d::kTagFci, [&](Field& f) {
        f.element(d::kTagTotalSize, {kDfSizeUnused, kDfSizeUnused})
            .element(d::kTagDescriptor, {d::kFileDf, 0x00, 0x00})
            .element(d::kTagFileId, fid)
            .element(d::kTagProprietary, {kSizeInProprietary, s[0], s[1]})
            .element(d::kTagAc, ac)
            .element(d::kTagSm, sm);
    });
}

void append_create_ef(Field& out, unsigned short size, Bytes fid, unsigned char type, Bytes ac,
                      Bytes sm)
{
    const auto s = high_first(size);
    append_template(out, d::kTagFci, [&](Field& f) {
        f.element(d::kTagTotalSize, {s[0], s[1]})
            .element(d::kTagDescriptor, {type, 0x00, 0x00})
            .element(d::kTagFileId, fid)
            .element(d::kTagProprietary, {kSizeInProprietary, s[0], s[1]})
            .element(d::kTagAc, ac)
            .element(d::kTagSm, sm);
    });
}

void append_create_df_r22(Field& out, unsigned short size, Bytes fid, Bytes ac)
{
    const auto s = high_first(size);
    append_template(out, d::kTagFcp, [&](Field& f) {
        f.element(d::kTagTotalSize, {0x00, 0x00})
            .element(d::kTagDescriptor, {d::kFileDf})
            .element(d::kTagFileId, fid)
            .element(d::kTagProprietary, {kSizeInProprietary, s[0], s[1]})
            .element(d::kTagAc, ac);
    });
}

void append_create_ef_r22_bin(Field& out, unsigned short size, Bytes fid, Bytes ac)
{
    const auto s = high_first(size);
    append_template(out, d::kTagFcp, [&](Field& f) {
        f.element(d::kTagFileSize, {s[0], s[1]})
            .element(d::kTagDescriptor, {d::kFileTransparent})
            .element(d::kTagFileId, fid)
            .element(d::kTagProprietary, {0x01})
            .element(d::kTagAc, ac);
    });
}

void append_r22_create_df(Field& out, unsigned short size, Bytes fid, Bytes ac, Bytes sm)
{
    const auto s = high_first(size);
    append_template(out, d::kTagFcp, [&](Field& f) {
        f.element(d::kTagTotalSize, {s[0], s[1]})
            .element(d::kTagDescriptor, {d::kFileDf})
            .element(d::kTagFileId, fid)
            .element(d::kTagProprietary, {kR22SizeInProprietary, s[0], s[1]})
            .element(d::kTagAc, ac)
            .element(d::kTagSmR22, sm);
    });
}

void append_r22_create_ef(Field& out, unsigned short size, Bytes fid, unsigned char type, Bytes ac,
                          Bytes sm)
{
    const auto s = high_first(size);
    append_template(out, d::kTagFcp, [&](Field& f) {
        f.element(d::kTagFileSize, {s[0], s[1]})
            .element(d::kTagDescriptor, {type})
            .element(d::kTagFileId, fid)
            .element(d::kTagProprietary, {kR22SizeInProprietary})
            .element(d::kTagAc, ac)
            .element(d::kTagSmR22, sm);
    });
}

void append_r22_format_data(Field& out)
{
    append_template(out, d::kTagFcp, [&](Field& f) {
        f.element(d::kTagTotalSize, {kR22FormatSize[0], kR22FormatSize[1]})
            .element(d::kTagProprietary, {0x01})
            .filled(d::kTagAc, kR22FormatAcBytes, d::kAcAlways)
            .element(d::kTagSmR22, Bytes());
    });
}

void append_format_data(Field& out, std::array<unsigned char, 2> size)
{
    append_template(out, d::kTagFci, [&](Field& f) {
        f.element(d::kTagProprietary, {kSizeInProprietary, size[0], size[1]})
            .filled(d::kTagAc, d::kDfAcSize, d::kAcAlways)
            .filled(d::kTagSm, kFormatSmBytes, 0xFF);
    });
}

void append_file_control_update(Field& out, const FileControlUpdate& update)
{
    if (update.ac)
        out.element(d::kTagAc, *update.ac);
    if (update.sm)
        out.element(update.smTag, *update.sm);
    if (update.name)
        out.element(d::kTagDfName, *update.name);
}

void append_object_description(Field& out, const ObjectDescription& object)
{
    out.element(d::kTagFileId, {object.objectClass, object.reference});
    if (object.parameters)
        out.element(d::kTagProprietary, *object.parameters);
    out.element(d::kTagAc, object.ac);
    if (object.sm)
        out.element(object.smTag, *object.sm);
    if (object.value)
        out.element(d::kTagObjectValue, *object.value);
}

void append_security_environment(Field& out, unsigned char se, Bytes seac)
{
    out.element(d::kTagFileId, {se})
        .element(d::kTagAc, seac)
        .filled(d::kTagObjectValue, kEnvironmentValueBytes, 0x00);
}

long send_field(COmbrixR2& card, unsigned char ins, unsigned char p1, unsigned char p2,
                const Field& field, SMFLAGS* pSM)
{
    if (long rc = refusal(field, pSM); rc != 0)
        return rc;
    return Command(card, 0x00, ins, p1, p2).data(field.bytes()).protect(pSM).send();
}

long put_data(COmbrixR2& card, unsigned char p2, const Field& field, SMFLAGS* pSM)
{
    return send_field(card, kInsPutData, d::kPutDataP1, p2, field, pSM);
}

long create_file(COmbrixR2& card, const Field& fileControl, SMFLAGS* pSM)
{
    if (long rc = refusal(fileControl, pSM); rc != 0)
        return rc;
    leave_personalization_phase(card);
    return send_field(card, kInsCreateFile, 0x00, 0x00, fileControl, pSM);
}

void append_logical_object(Field& out, unsigned char reference, const unsigned char* data,
                           unsigned char length, Bytes ac)
{
    append_object_description(
        out, {.objectClass = d::kClassPin,
              .reference = reference,
              .parameters = ObjectParameters{0x02, 0x00, d::kAlgoLogical, 0x00, 0xFF, 0xFF, 0x00,
                                             0x00},
              .ac = std::move(ac),
              .value = Bytes(data, data + length)});
}

} // namespace ombrix::r2
