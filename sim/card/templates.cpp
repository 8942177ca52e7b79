#include "sim/card/templates.h"

#include "sim/card/apdu.h"

#include <array>

namespace ombrix::sim::card {

namespace {

std::uint16_t be16(std::span<const std::uint8_t> v)
{
    return static_cast<std::uint16_t>(v[0] << 8 | v[1]);
}

// The elements of one template, each at most once.
class Elements {
public:
    explicit Elements(const std::vector<Tlv>& tlvs)
    {
        for (const Tlv& t : tlvs) {
            if (seen_[t.tag])
                refuse(sw::kWrongData);
            seen_[t.tag] = true;
            value_[t.tag] = t.value;
        }
    }
    bool has(std::uint8_t tag) const { return seen_[tag]; }
    std::span<const std::uint8_t> get(std::uint8_t tag) const { return value_[tag]; }
    // The element's value when its length lies in [min, max]; 6A80 otherwise.
    std::span<const std::uint8_t> need(std::uint8_t tag, std::size_t min, std::size_t max) const
    {
        if (!has(tag) || get(tag).size() < min || get(tag).size() > max)
            refuse(sw::kWrongData);
        return get(tag);
    }

private:
    std::array<bool, 256> seen_{};
    std::array<std::span<const std::uint8_t>, 256> value_{};
};

bool allowed_tag(const ModelTraits& model, std::uint8_t tag)
{
    switch (tag) {
    case 0x80:
    case 0x81:
    case 0x82:
    case 0x83:
    case 0x85:
    case 0x86:
        return true;
    case 0x84:
        return model.generation == Generation::Second;
    default:
        return model.sm_tag != 0 && tag == model.sm_tag;
    }
}

} // namespace

FileRequest parse_create_template(const ModelTraits& model, std::span<const std::uint8_t> data)
{
    const auto outer = parse_tlvs(data);
    if (!outer || outer->size() != 1 || outer->front().tag != model.template_tag)
        refuse(sw::kWrongData);
    const auto inner = parse_tlvs(outer->front().value);
    if (!inner)
        refuse(sw::kWrongData);
    for (const Tlv& t : *inner)
        if (!allowed_tag(model, t.tag))
            refuse(sw::kWrongData);
    const Elements e(*inner);

    FileRequest request;
    const auto descriptor = model.generation == Generation::First ? e.need(0x82, 3, 3)
                                                                  : e.need(0x82, 1, 3);
    if (descriptor.size() == 2)
        refuse(sw::kWrongData);
    request.fdb = descriptor[0];
    const auto kind = kind_of_descriptor(request.fdb);
    if (!kind)
        refuse(sw::kWrongData);
    request.kind = *kind;
    // A linear-fixed EF with record size 0 (the library's Create_EF sends
    // 82 03 02 00 00, R22's a one-byte 82) takes the length of its first
    // record.
    if (descriptor.size() == 3)
        request.record_size = descriptor[2];
    if (!(request.kind == FileKind::LinearFixed || request.kind == FileKind::LinearVariable))
        request.record_size = 0;

    request.fid = be16(e.need(0x83, 2, 2));
    if (request.fid == 0xFFFF || request.fid == 0x3FFF || request.fid == 0x0000)
        refuse(sw::kWrongData);

    if (e.has(0x80) && e.has(0x81))
        refuse(sw::kWrongData);
    const bool df = request.kind == FileKind::Df;
    if (model.generation == Generation::First) {
        // The one first-generation shape: 81, 82, 83, 85 (three
        // bytes) and 86 (eleven bytes), no 80.
        if (e.has(0x80))
            refuse(sw::kWrongData);
        request.size = be16(e.need(0x81, 2, 2));
        request.proprietary.assign(e.need(0x85, 3, 3).begin(), e.need(0x85, 3, 3).end());
        const auto ac = e.need(0x86, 11, 11);
        request.ac.assign(ac.begin(), ac.end());
        return request;
    }

    if (e.has(0x85)) {
        const auto p = e.need(0x85, 1, kMaxProprietary);
        request.proprietary.assign(p.begin(), p.end());
    }
    const std::uint8_t size_tag = e.has(0x80) ? 0x80 : 0x81;
    if (df) {
        // A DF's size: 85 01 hh ll when the 85 element says so (the R2
        // template, 81 FF FF), else 80/81 unless that is FFFF.
        if (e.has(size_tag))
            request.size = be16(e.need(size_tag, 2, 2));
        if (request.size == 0xFFFF)
            request.size = 0;
        if (request.proprietary.size() == 3 && request.proprietary[0] == 0x01)
            request.size = static_cast<std::uint16_t>(request.proprietary[1] << 8 | request.proprietary[2]);
    } else {
        request.size = be16(e.need(size_tag, 2, 2));
    }
    if (e.has(0x84)) {
        if (!df)
            refuse(sw::kWrongData);
        const auto n = e.need(0x84, 1, kMaxDfName);
        request.name.assign(n.begin(), n.end());
    }
    if (e.has(0x86)) {
        const auto ac = e.need(0x86, 1, df ? model.df_ac_max : model.ef_ac_max);
        request.ac.assign(ac.begin(), ac.end());
    } else {
        request.ac = default_ac(model.model, df);
    }
    if (e.has(model.sm_tag)) {
        const auto s = e.need(model.sm_tag, 0, kMaxSmBytes);
        request.sm.assign(s.begin(), s.end());
    }
    return request;
}

FormatRequest parse_format_template(const ModelTraits& model, std::span<const std::uint8_t> data)
{
    const auto outer = parse_tlvs(data);
    if (!outer || outer->size() != 1 || outer->front().tag != model.template_tag)
        refuse(sw::kWrongData);
    const auto inner = parse_tlvs(outer->front().value);
    if (!inner)
        refuse(sw::kWrongData);
    for (const Tlv& t : *inner)
        if (t.tag != 0x81 && t.tag != 0x85 && t.tag != 0x86 && t.tag != model.sm_tag)
            refuse(sw::kWrongData);
    const Elements e(*inner);

    FormatRequest request;
    if (e.has(0x85)) {
        const auto p = e.need(0x85, 1, kMaxProprietary);
        request.proprietary.assign(p.begin(), p.end());
    }
    // The MF's size: 85 01 hh ll (the second generation's data), else 81.
    if (request.proprietary.size() == 3 && request.proprietary[0] == 0x01)
        request.size = static_cast<std::uint16_t>(request.proprietary[1] << 8 | request.proprietary[2]);
    else
        request.size = be16(e.need(0x81, 2, 2));
    if (e.has(0x86)) {
        const auto ac = e.need(0x86, 1, model.df_ac_max);
        request.ac.assign(ac.begin(), ac.end());
    } else {
        request.ac = default_ac(model.model, true);
    }
    if (e.has(model.sm_tag)) {
        const auto s = e.need(model.sm_tag, 0, kMaxSmBytes);
        request.sm.assign(s.begin(), s.end());
    }
    return request;
}

Bytes build_fcp(const ModelTraits& model, const FileNode& file)
{
    Bytes body;
    const std::array<std::uint8_t, 2> size{static_cast<std::uint8_t>(file.size >> 8),
                                           static_cast<std::uint8_t>(file.size)};
    append_tlv(body, file.is_df() ? 0x81 : 0x80, size);
    if (model.model == Model::R22 && !file.is_record()) {
        append_tlv(body, 0x82, std::array<std::uint8_t, 1>{file.fdb});
    } else {
        append_tlv(body, 0x82, std::array<std::uint8_t, 3>{file.fdb, 0x00, file.record_size});
    }
    append_tlv(body, 0x83, std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(file.fid >> 8),
                                                       static_cast<std::uint8_t>(file.fid)});
    if (!file.name.empty())
        append_tlv(body, 0x84, file.name);
    if (!file.proprietary.empty())
        append_tlv(body, 0x85, file.proprietary);
    append_tlv(body, 0x86, file.ac);
    if (!file.sm.empty() && model.sm_tag != 0)
        append_tlv(body, model.sm_tag, file.sm);
    Bytes fcp;
    append_tlv(fcp, 0x62, body);
    return fcp;
}

} // namespace ombrix::sim::card
