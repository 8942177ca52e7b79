#include "sim/card/file_system.h"

#include "sim/card/apdu.h"

#include <algorithm>
#include <array>

namespace ombrix::sim::card {

namespace {
struct DescriptorInfo {
    std::uint8_t fdb;
    FileKind kind;
    std::string_view name;
};
constexpr std::array<DescriptorInfo, 6> kDescriptors{{
    {descriptor::kFileDf, FileKind::Df, "DF"},
    {descriptor::kFileTransparent, FileKind::Transparent, "transparent"},
    {descriptor::kFilePublicKey, FileKind::Transparent, "public-key"},
    {descriptor::kFileExecutable, FileKind::Transparent, "executable"},
    {descriptor::kFileLinearFixed, FileKind::LinearFixed, "linear-fixed"},
    {descriptor::kFileLinearVariable, FileKind::LinearVariable, "linear-variable"},
}};
} // namespace

std::optional<FileKind> kind_of_descriptor(std::uint8_t fdb)
{
    for (const auto& d : kDescriptors)
        if (d.fdb == fdb)
            return d.kind;
    return std::nullopt;
}

std::string_view descriptor_name(std::uint8_t fdb)
{
    for (const auto& d : kDescriptors)
        if (d.fdb == fdb)
            return d.name;
    return "unknown";
}

std::optional<std::uint8_t> descriptor_from_name(std::string_view name)
{
    for (const auto& d : kDescriptors)
        if (d.name == name)
            return d.fdb;
    return std::nullopt;
}

FileNode* FileNode::child(std::uint16_t id) const
{
    for (const auto& c : children)
        if (c->fid == id)
            return c.get();
    return nullptr;
}

std::size_t FileNode::depth() const
{
    std::size_t d = 0;
    for (const FileNode* p = parent; p != nullptr; p = p->parent)
        ++d;
    return d;
}

bool FileNode::contains(const FileNode* other) const
{
    for (const FileNode* p = other; p != nullptr; p = p->parent)
        if (p == this)
            return true;
    return false;
}

std::size_t FileNode::record_bytes() const
{
    std::size_t total = 0;
    for (const auto& r : records)
        total += r.size();
    return total;
}

std::size_t FileNode::max_record_length() const
{
    return record_size == 0 ? 255 : record_size;
}

std::size_t memory_used(const FileNode* root)
{
    if (root == nullptr)
        return 0;
    std::size_t used = kFileOverhead + (root->is_df() ? 0 : root->size);
    for (const auto& c : root->children)
        used += memory_used(c.get());
    return used;
}

FileNode* find_df_by_name(FileNode* root, std::span<const std::uint8_t> name)
{
    if (root == nullptr || !root->is_df())
        return nullptr;
    if (!root->name.empty() && root->name.size() >= name.size() &&
        std::equal(name.begin(), name.end(), root->name.begin()))
        return root;
    for (const auto& c : root->children)
        if (FileNode* found = find_df_by_name(c.get(), name))
            return found;
    return nullptr;
}

std::optional<std::size_t> ac_position(Generation generation, bool df, Op op)
{
    if (generation == Generation::First) {
        // R1, eleven bytes: 0 read, 1 update, 2 append, 3 delete, 4 create
        // (in a DF), 5 to 7 RFU, 8 deactivate, 9 activate, 10 RFU.
        switch (op) {
        case Op::Read: return df ? std::nullopt : std::optional<std::size_t>(0);
        case Op::Update: return df ? std::nullopt : std::optional<std::size_t>(1);
        case Op::Append: return df ? std::nullopt : std::optional<std::size_t>(2);
        case Op::Delete: return 3;
        case Op::CreateEf:
        case Op::CreateDf: return df ? std::optional<std::size_t>(4) : std::nullopt;
        case Op::ChangeAc:
        case Op::CreateObject: return std::nullopt;
        case Op::Deactivate: return 8;
        case Op::Activate: return 9;
        }
        return std::nullopt;
    }
    // The second generation's positions are the shared table's (the
    // library writes the records by them); R22 adds an RFU tenth DF byte.
    if (df) {
        switch (op) {
        case Op::CreateEf: return descriptor::df_ac::kCreateEf;
        case Op::CreateDf: return descriptor::df_ac::kCreateDf;
        case Op::Delete: return descriptor::df_ac::kDelete;
        case Op::Deactivate: return descriptor::df_ac::kDeactivate;
        case Op::Activate: return descriptor::df_ac::kActivate;
        case Op::ChangeAc: return descriptor::df_ac::kChangeAc;
        case Op::CreateObject: return descriptor::df_ac::kCreateObject;
        default: return std::nullopt;
        }
    }
    switch (op) {
    case Op::Read: return descriptor::ef_ac::kRead;
    case Op::Update: return descriptor::ef_ac::kUpdate;
    case Op::Append: return descriptor::ef_ac::kAppend;
    case Op::Deactivate: return descriptor::ef_ac::kDeactivate;
    case Op::Activate: return descriptor::ef_ac::kActivate;
    case Op::Delete: return descriptor::ef_ac::kDelete;
    case Op::ChangeAc: return descriptor::ef_ac::kChangeAc;
    default: return std::nullopt;
    }
}

Bytes default_ac(Model model, bool df)
{
    const ModelTraits& t = traits(model);
    if (t.generation == Generation::First)
        return Bytes(11, 0x00);
    if (df)
        return Bytes(t.df_ac_max, 0x00);
    // The library's own EF default.
    return Bytes(descriptor::kDefaultEfAc.begin(), descriptor::kDefaultEfAc.end());
}

bool SecurityState::satisfies(std::uint8_t ac_byte) const
{
    return std::any_of(satisfied.begin(), satisfied.end(),
                       [ac_byte](std::uint8_t ref) { return (ref & 0x7F) == (ac_byte & 0x7F); });
}

void SecurityState::grant(std::uint8_t p2)
{
    revoke(p2);
    satisfied.push_back(p2);
}

void SecurityState::revoke(std::uint8_t p2)
{
    std::erase_if(satisfied, [p2](std::uint8_t ref) { return (ref & 0x7F) == (p2 & 0x7F); });
}

void check_condition(std::uint8_t ac, const SecurityState& state)
{
    if (ac == kAcAlways)
        return;
    if (ac == kAcNever)
        refuse(sw::kConditionsNotSatisfied);
    if (!state.satisfies(ac))
        refuse(sw::kSecurityNotSatisfied);
}

void check_object_access(std::uint8_t condition, const Bytes& sm, std::size_t position, bool secured,
                         const SecurityState& state)
{
    check_condition(condition, state);
    if (!secured && position < sm.size() && sm[position] != 0xFF)
        refuse(sw::kSecurityNotSatisfied);
}

bool sm_required(Generation generation, const FileNode& file, Op op)
{
    const auto pos = ac_position(generation, file.is_df(), op);
    return pos && *pos < file.sm.size() && file.sm[*pos] != 0xFF;
}

void check_access(Generation generation, const FileNode& file, Op op, const SecurityState& state)
{
    const auto pos = ac_position(generation, file.is_df(), op);
    if (!pos)
        return;
    check_condition(*pos < file.ac.size() ? file.ac[*pos] : kAcNever, state);
}

std::unique_ptr<FileNode> copy_tree(const FileNode& node, FileNode* parent)
{
    auto copy = std::make_unique<FileNode>();
    copy->fid = node.fid;
    copy->fdb = node.fdb;
    copy->kind = node.kind;
    copy->size = node.size;
    copy->record_size = node.record_size;
    copy->name = node.name;
    copy->ac = node.ac;
    copy->sm = node.sm;
    copy->proprietary = node.proprietary;
    copy->data = node.data;
    copy->records = node.records;
    copy->parent = parent;
    copy->children.reserve(node.children.size());
    for (const auto& child : node.children)
        copy->children.push_back(copy_tree(*child, copy.get()));
    return copy;
}

} // namespace ombrix::sim::card
