#include "sim/card/card_os.h"

#include "sim/card/packages.h"
#include "sim/card/templates.h"

#include "cards/r2/issuer_constants.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <utility>

namespace ombrix::sim::card {

namespace {

constexpr std::uint8_t kAllPhases = kPhaseBlank | kPhaseOperational | kPhaseAdmin | kPhaseOther;
constexpr std::uint8_t kFileAccessPhases = kPhaseOperational | kPhaseAdmin;
constexpr std::size_t kMaxResponseData = 256;
constexpr std::uint8_t kSmFamily4 = 1; // class bits b3-b4 of the `_4` family

std::uint16_t be16(std::span<const std::uint8_t> v)
{
    return static_cast<std::uint16_t>(v[0] << 8 | v[1]);
}

Bytes status_bytes(Sw status)
{
    return Bytes{static_cast<std::uint8_t>(status >> 8), static_cast<std::uint8_t>(status)};
}

bool df_name_in_use(const FileNode* root, std::span<const std::uint8_t> name)
{
    if (root == nullptr || !root->is_df())
        return false;
    if (std::equal(root->name.begin(), root->name.end(), name.begin(), name.end()))
        return true;
    return std::any_of(root->children.begin(), root->children.end(),
                       [&](const auto& c) { return df_name_in_use(c.get(), name); });
}

} // namespace

// The instruction tables: INS -> handler, the phases in which it may run and
// what else it allows. The class byte picks the table.
const std::array<CardOs::InsEntry, 20> CardOs::kInterindustry{{
    {0xA4, &CardOs::select_file, kAllPhases},
    {0xB0, &CardOs::read_binary, kFileAccessPhases},
    {0xD6, &CardOs::update_binary, kFileAccessPhases},
    {0xB2, &CardOs::read_record, kFileAccessPhases},
    {0xDC, &CardOs::update_record, kFileAccessPhases},
    {0xE2, &CardOs::append_record, kFileAccessPhases},
    {0xE0, &CardOs::create_file, kPhaseAdmin},
    {0xE4, &CardOs::delete_file, kPhaseAdmin},
    {0xCA, &CardOs::get_data, kAllPhases},
    {0x20, &CardOs::verify, kFileAccessPhases, kChaining},
    {0x24, &CardOs::change_reference_data, kFileAccessPhases},
    {0x2C, &CardOs::reset_retry_counter, kFileAccessPhases},
    {0xEA, &CardOs::reset_security_status, kFileAccessPhases},
    {0x22, &CardOs::manage_security_environment, kFileAccessPhases},
    {0x2A, &CardOs::perform_security_operation, kFileAccessPhases},
    {0x84, &CardOs::get_challenge, kPhaseBlank | kFileAccessPhases, kSecondGeneration},
    {0x82, &CardOs::external_authenticate, kFileAccessPhases, kSecondGeneration},
    {0x46, &CardOs::generate_key_pair, kPhaseAdmin, kSecondGeneration},
    {0xDA, &CardOs::put_data, kPhaseAdmin, kSecondGeneration},
    {0x70, &CardOs::manage_channel, kPhaseBlank | kFileAccessPhases, kSecondGeneration},
}};

const std::array<CardOs::InsEntry, 7> CardOs::kProprietary{{
    {0x10, &CardOs::phase_control, kPhaseBlank | kPhaseOperational | kPhaseAdmin},
    {0x24, &CardOs::proprietary_signature, kFileAccessPhases, kSecondGeneration},
    {0x24, &CardOs::change_key, kPhaseBlank, kSecondGeneration, card_sm::Protection4::EncMac},
    {0x40, &CardOs::format, kPhaseBlank, kSecondGeneration, card_sm::Protection4::EncMac},
    {0x06, &CardOs::erase_files, kPhaseBlank | kPhaseAdmin, kSecondGeneration, card_sm::Protection4::EncMac},
    {0x24, &CardOs::change_key_data, kPhaseAdmin, kSecondGeneration | kChainedClass | kR22Only},
    {0x20, &CardOs::load_executable, kPhaseAdmin, kSecondGeneration | kPlainIn4},
}};

Persistent copy_of(const Persistent& state)
{
    Persistent copy;
    copy.model = state.model;
    copy.identification = state.identification;
    copy.life_cycle = state.life_cycle;
    copy.memory_kb = state.memory_kb;
    copy.mf = state.mf ? copy_tree(*state.mf) : nullptr;
    copy.packages = state.packages;
    copy.pins = state.pins;
    copy.des_keys = state.des_keys;
    copy.rsa_keys = state.rsa_keys;
    copy.transport_key = state.transport_key;
    copy.responses = state.responses;
    copy.data_objects = state.data_objects;
    copy.environments = state.environments;
    copy.digest_info = state.digest_info;
    return copy;
}

CardOs::CardOs(Persistent state) : p_(std::move(state))
{
    // The card's key for the `_C` family: its identification data under the
    // issuer's master key, as the issuer personalized it.
    std::array<std::uint8_t, issuer::kMasterKeySize> master{};
    issuer::master_key(master);
    if (p_.identification.size() >= 16)
        sm_key_ = card_sm::personalized_key(std::span<const std::uint8_t, 16>(p_.identification.data(), 16),
                                            master);
    OPENSSL_cleanse(master.data(), master.size());
    reset();
}

CardOs::~CardOs()
{
    OPENSSL_cleanse(sm_key_.data(), sm_key_.size());
    OPENSSL_cleanse(p_.transport_key.data(), p_.transport_key.size());
}

Bytes CardOs::atr() const
{
    return model_atr(p_.model);
}

void CardOs::reset()
{
    channels_ = {};
    channels_[0].open = true;
    channels_[0].current_df = p_.mf.get();
    challenge_.reset();
}

Bytes CardOs::transmit(std::span<const std::uint8_t> raw) noexcept
{
    try {
        const Command cmd = parse_command(raw);
        Response r = dispatch(cmd, raw);
        const std::size_t limit = std::min(cmd.le.value_or(kMaxResponseData), kMaxResponseData);
        if (r.data.size() > limit)
            r.data.resize(limit);
        const Bytes status = status_bytes(r.sw);
        r.data.insert(r.data.end(), status.begin(), status.end());
        return std::move(r.data);
    } catch (const SwError& e) {
        return status_bytes(e.sw());
    } catch (...) {
        return status_bytes(sw::kNoDiagnosis);
    }
}

Response CardOs::dispatch(const Command& cmd, std::span<const std::uint8_t> raw)
{
    const ClassByte cls = decode_class(cmd.cla);
    Channel& ch = channel_of(cls);
    // A challenge serves the one command that follows it on its channel.
    challenge_ = std::exchange(ch.challenge, std::nullopt);
    // A chained VERIFY goes on across GET CHALLENGE (each protected piece
    // fetches its own); any other command ends it.
    if (ch.chain && (cls.proprietary || (cmd.ins != 0x84 && (cmd.ins != 0x20 || cmd.p2 != ch.chain->p2))))
        ch.chain.reset();
    const InsEntry& entry = lookup(cls, cmd.ins);
    if (cls.chained && (entry.flags & (kChaining | kChainedClass)) == 0)
        refuse(sw::kChainingNotSupported);
    if ((entry.phases & phase()) == 0)
        refuse(sw::kConditionsNotSatisfied);
    if (cls.sm == 0 || (cls.sm == kSmFamily4 && (entry.flags & kPlainIn4) != 0))
        return (this->*entry.run)(cmd, ch);
    const Command plain = unwrap_secure(raw, cls, entry);
    return wrap_secure((this->*entry.run)(plain, ch), cmd, cls);
}

CardOs::ClassByte CardOs::decode_class(std::uint8_t cla) const
{
    ClassByte cls;
    if (model().generation == Generation::First) {
        // The first generation knows class 00 and, for PHASE CONTROL, B0.
        if (cla == 0x00)
            return cls;
        if (cla == 0xB0) {
            cls.proprietary = true;
            return cls;
        }
        refuse(sw::kClaNotSupported);
    }
    if ((cla & 0xC0) == 0x40)
        return decode_further_class(cla);
    // ISO first interindustry classes 0X/1X and their proprietary
    // counterparts 8X/9X: b5 chaining, b3-b4 secure messaging, b1-b2 channel.
    const std::uint8_t type = cla & 0xE0;
    if (type != 0x00 && type != 0x80)
        refuse(sw::kClaNotSupported);
    cls.proprietary = type == 0x80;
    cls.chained = (cla & 0x10) != 0;
    cls.sm = static_cast<std::uint8_t>((cla >> 2) & 0x03);
    cls.channel = cla & 0x03;
    return cls;
}

const CardOs::InsEntry& CardOs::lookup(const ClassByte& cls, std::uint8_t ins) const
{
    const bool second = model().generation == Generation::Second;
    const InsEntry* plain = nullptr;
    const InsEntry* protected4 = nullptr;
    const std::span<const InsEntry> table =
        cls.proprietary ? std::span<const InsEntry>(kProprietary) : std::span<const InsEntry>(kInterindustry);
    for (const InsEntry& e : table) {
        if (e.ins != ins || ((e.flags & kSecondGeneration) != 0 && !second) ||
            ((e.flags & kR22Only) != 0 && p_.model != Model::R22))
            continue;
        if ((e.flags & kChainedClass) != 0) {
            if (cls.chained)
                return e;
            continue;
        }
        (e.protection4 ? protected4 : plain) = &e;
    }
    if (cls.proprietary && cls.sm == kSmFamily4) {
        if (protected4 != nullptr)
            return *protected4;
        if (plain != nullptr && (plain->flags & kPlainIn4) != 0 && p_.model != Model::R2)
            return *plain;
        if (plain != nullptr)
            refuse(sw::kSmNotSupported); // the command has no `_4` form
    } else {
        if (plain != nullptr)
            return *plain;
        if (protected4 != nullptr)
            refuse(sw::kSecurityNotSatisfied); // it runs only protected
    }
    refuse(sw::kInsNotSupported);
}

std::uint8_t CardOs::phase() const
{
    switch (p_.life_cycle) {
    case kLifeCycleBlank: return kPhaseBlank;
    case kLifeCycleOperational: return kPhaseOperational;
    case kLifeCycleAdmin: return kPhaseAdmin;
    default: return kPhaseOther;
    }
}

void CardOs::check_file_access(const FileNode& file, Op op, const Command& cmd, const Channel& ch) const
{
    check_access(model().generation, file, op, ch.security);
    if (!cmd.secured && sm_required(model().generation, file, op))
        refuse(sw::kSecurityNotSatisfied);
}

// ---------------------------------------------------------------- selection

FileNode* CardOs::select_by_fid(const Channel& ch, std::span<const std::uint8_t> data) const
{
    if (data.empty())
        return p_.mf.get();
    if (data.size() != 2)
        refuse(sw::kWrongLength);
    const std::uint16_t fid = be16(data);
    if (!p_.mf)
        return nullptr;
    if (fid == kMfFid)
        return p_.mf.get();
    FileNode* df = ch.current_df;
    if (df == nullptr)
        return nullptr;
    // ISO 7816-4 search order: children of the current DF, the current DF,
    // its parent, the parent's children.
    if (FileNode* c = df->child(fid))
        return c;
    if (df->fid == fid)
        return df;
    if (FileNode* parent = df->parent) {
        if (parent->fid == fid)
            return parent;
        return parent->child(fid);
    }
    return nullptr;
}

FileNode* CardOs::select_path(FileNode* start, std::span<const std::uint8_t> path) const
{
    if (path.size() % 2 != 0)
        refuse(sw::kWrongLength);
    FileNode* cur = start;
    for (std::size_t i = 0; cur != nullptr && i < path.size(); i += 2) {
        if (!cur->is_df())
            return nullptr;
        cur = cur->child(be16(path.subspan(i, 2)));
    }
    return cur;
}

void CardOs::make_current(Channel& ch, FileNode* file) const
{
    if (file->is_df()) {
        ch.current_df = file;
        ch.current_ef = nullptr;
    } else {
        ch.current_df = file->parent;
        ch.current_ef = file;
    }
}

Response CardOs::select_file(const Command& cmd, Channel& ch)
{
    // P2: 00 FCI, 04 FCP, 08 FMD (all answered with the FCP), 0C no data.
    if (cmd.p2 != 0x00 && cmd.p2 != 0x04 && cmd.p2 != 0x08 && cmd.p2 != 0x0C)
        refuse(sw::kWrongP1P2);
    const std::span<const std::uint8_t> data(cmd.data);
    FileNode* target = nullptr;
    switch (cmd.p1) {
    case 0x00: // MF, DF or EF by identifier; no data: the MF
        target = select_by_fid(ch, data);
        break;
    case 0x01: // child DF
    case 0x02: // EF of the current DF
        if (data.size() != 2)
            refuse(sw::kWrongLength);
        if (ch.current_df != nullptr) {
            FileNode* f = ch.current_df->child(be16(data));
            if (f != nullptr && f->is_df() == (cmd.p1 == 0x01))
                target = f;
        }
        break;
    case 0x03: // parent of the current DF
        if (!data.empty())
            refuse(sw::kWrongLength);
        if (ch.current_df != nullptr)
            target = ch.current_df->parent;
        break;
    case 0x04: // DF name; no data: the MF
        if (data.size() > kMaxDfName)
            refuse(sw::kWrongLength);
        target = data.empty() ? p_.mf.get() : find_df_by_name(p_.mf.get(), data);
        break;
    case 0x08: { // path from the MF; a leading 3F00 is accepted
        auto path = data;
        if (path.size() >= 2 && be16(path) == kMfFid)
            path = path.subspan(2);
        target = select_path(p_.mf.get(), path);
        break;
    }
    case 0x09: // path from the current DF
        if (data.empty())
            refuse(sw::kWrongLength);
        target = select_path(ch.current_df, data);
        break;
    default:
        refuse(sw::kWrongP1P2);
    }
    if (target == nullptr)
        refuse(sw::kFileNotFound);
    make_current(ch, target);
    // The first generation answers no file control information; the second
    // answers its FCP when the host asked for data (an Le byte).
    if (model().generation == Generation::First || cmd.p2 == 0x0C || !cmd.le)
        return {};
    return {build_fcp(model(), *target), sw::kOk};
}

// ------------------------------------------------------------- file access

FileNode& CardOs::current_ef(Channel& ch, bool records) const
{
    if (ch.current_ef == nullptr)
        refuse(sw::kNoCurrentEf);
    if (ch.current_ef->is_record() != records)
        refuse(sw::kIncompatibleFileStructure);
    return *ch.current_ef;
}

// The offset of READ/UPDATE BINARY is the whole of P1-P2: the card has no
// short-EF addressing, so offsets of 8000 and above work.
Response CardOs::read_binary(const Command& cmd, Channel& ch)
{
    if (!cmd.data.empty())
        refuse(sw::kWrongLength);
    FileNode& ef = current_ef(ch, false);
    check_file_access(ef, Op::Read, cmd, ch);
    const std::size_t offset = cmd.p1p2();
    if (offset >= ef.data.size())
        refuse(sw::kWrongP1P2);
    const std::size_t n = std::min(cmd.le.value_or(kMaxResponseData), ef.data.size() - offset);
    const auto first = ef.data.begin() + static_cast<std::ptrdiff_t>(offset);
    return {Bytes(first, first + static_cast<std::ptrdiff_t>(n)), sw::kOk};
}

Response CardOs::update_binary(const Command& cmd, Channel& ch)
{
    if (cmd.data.empty())
        refuse(sw::kWrongLength);
    FileNode& ef = current_ef(ch, false);
    check_file_access(ef, Op::Update, cmd, ch);
    const std::size_t offset = cmd.p1p2();
    if (offset >= ef.data.size())
        refuse(sw::kWrongP1P2);
    if (cmd.data.size() > ef.data.size() - offset)
        refuse(sw::kNotEnoughMemory);
    std::copy(cmd.data.begin(), cmd.data.end(), ef.data.begin() + static_cast<std::ptrdiff_t>(offset));
    return {};
}

namespace {
// Record number in P1 (01 to FE), P2 04: "record P1 of the current EF".
std::size_t record_index(const Command& cmd, const FileNode& ef)
{
    if (cmd.p2 != 0x04 || cmd.p1 == 0x00 || cmd.p1 == 0xFF)
        refuse(sw::kWrongP1P2);
    if (cmd.p1 > ef.records.size())
        refuse(sw::kRecordNotFound);
    return cmd.p1 - 1u;
}

void check_record_length(const FileNode& ef, std::size_t length)
{
    if (ef.kind == FileKind::LinearFixed ? length != ef.record_size : length > ef.max_record_length())
        refuse(sw::kWrongLength);
}
} // namespace

Response CardOs::read_record(const Command& cmd, Channel& ch)
{
    if (!cmd.data.empty())
        refuse(sw::kWrongLength);
    FileNode& ef = current_ef(ch, true);
    check_file_access(ef, Op::Read, cmd, ch);
    return {ef.records[record_index(cmd, ef)], sw::kOk};
}

Response CardOs::update_record(const Command& cmd, Channel& ch)
{
    if (cmd.data.empty())
        refuse(sw::kWrongLength);
    FileNode& ef = current_ef(ch, true);
    check_file_access(ef, Op::Update, cmd, ch);
    const std::size_t index = record_index(cmd, ef);
    check_record_length(ef, cmd.data.size());
    if (ef.record_bytes() - ef.records[index].size() + cmd.data.size() > ef.size)
        refuse(sw::kNotEnoughMemory);
    ef.records[index] = cmd.data;
    return {};
}

Response CardOs::append_record(const Command& cmd, Channel& ch)
{
    if (cmd.data.empty())
        refuse(sw::kWrongLength);
    FileNode& ef = current_ef(ch, true);
    check_file_access(ef, Op::Append, cmd, ch);
    if (cmd.p1p2() != 0)
        refuse(sw::kWrongP1P2);
    // A linear-fixed EF created without a record size takes the length of
    // its first record.
    const bool sizes_file = ef.kind == FileKind::LinearFixed && ef.record_size == 0;
    if (!sizes_file)
        check_record_length(ef, cmd.data.size());
    if (ef.records.size() >= kMaxRecords || ef.record_bytes() + cmd.data.size() > ef.size)
        refuse(sw::kNotEnoughMemory);
    if (sizes_file)
        ef.record_size = static_cast<std::uint8_t>(cmd.data.size());
    ef.records.push_back(cmd.data);
    return {};
}

// ------------------------------------------------------- creation, deletion

Response CardOs::create_file(const Command& cmd, Channel& ch)
{
    if (cmd.p1p2() != 0)
        refuse(sw::kWrongP1P2);
    if (cmd.data.empty())
        refuse(sw::kWrongLength);
    // Every check comes before the first change: a refused CREATE FILE
    // leaves the card as it was.
    const FileRequest request = parse_create_template(model(), cmd.data);
    FileNode* parent = ch.current_df;
    if (parent == nullptr)
        refuse(sw::kFileNotFound);
    const bool df = request.kind == FileKind::Df;
    check_file_access(*parent, df ? Op::CreateDf : Op::CreateEf, cmd, ch);
    if (df && parent->depth() + 1 >= kMaxDepth)
        refuse(sw::kNotEnoughMemory);
    if (request.fid == kMfFid || request.fid == parent->fid || parent->child(request.fid) != nullptr)
        refuse(sw::kFileExists);
    if (!request.name.empty() && df_name_in_use(p_.mf.get(), request.name))
        refuse(sw::kDfNameExists);
    if (kFileOverhead + (df ? 0 : request.size) > memory_free())
        refuse(sw::kNotEnoughMemory);

    auto node = std::make_unique<FileNode>();
    node->fid = request.fid;
    node->fdb = request.fdb;
    node->kind = request.kind;
    node->size = request.size;
    node->record_size = request.record_size;
    node->name = request.name;
    node->ac = request.ac;
    node->sm = request.sm;
    node->proprietary = request.proprietary;
    if (node->kind == FileKind::Transparent)
        node->data.assign(request.size, 0x00);
    node->parent = parent;
    FileNode* created = node.get();
    parent->children.push_back(std::move(node));
    // ISO 7816-4: the created file becomes the current file.
    make_current(ch, created);
    return {};
}

Response CardOs::delete_file(const Command& cmd, Channel& ch)
{
    if (cmd.p1p2() != 0)
        refuse(sw::kWrongP1P2);
    if (cmd.data.size() != 2)
        refuse(sw::kWrongLength);
    FileNode* dir = ch.current_df;
    if (dir == nullptr)
        refuse(sw::kFileNotFound);
    const std::uint16_t fid = be16(cmd.data);
    // A file of the current DF, or the current DF itself.
    FileNode* victim = dir->child(fid);
    if (victim == nullptr && dir->fid == fid)
        victim = dir;
    if (victim == nullptr)
        refuse(sw::kFileNotFound);
    if (victim == p_.mf.get())
        refuse(sw::kConditionsNotSatisfied); // the MF goes only by FORMAT
    check_file_access(*victim, Op::Delete, cmd, ch);

    forget_packages_in(p_.packages, *victim);
    FileNode* parent = victim->parent;
    for (Channel& c : channels_) {
        if (c.current_df != nullptr && victim->contains(c.current_df)) {
            c.current_df = parent;
            c.current_ef = nullptr;
        }
        if (c.current_ef != nullptr && victim->contains(c.current_ef))
            c.current_ef = nullptr;
    }
    auto& siblings = parent->children;
    siblings.erase(std::find_if(siblings.begin(), siblings.end(),
                                [victim](const auto& c) { return c.get() == victim; }));
    return {};
}

// ---------------------------------------------------------- card information

Bytes CardOs::memory_object() const
{
    // 01 89: version 01, 00, the memory size in KB (00 40 or 00 20), the free
    // bytes (capped at FFFF).
    const std::size_t free_bytes = std::min<std::size_t>(memory_free(), 0xFFFF);
    return Bytes{0x01,
                 0x00,
                 static_cast<std::uint8_t>(p_.memory_kb >> 8),
                 static_cast<std::uint8_t>(p_.memory_kb),
                 static_cast<std::uint8_t>(free_bytes >> 8),
                 static_cast<std::uint8_t>(free_bytes)};
}

Response CardOs::get_data(const Command& cmd, Channel& ch)
{
    if (!cmd.data.empty())
        refuse(sw::kWrongLength);
    if (cmd.p1 != 0x01)
        refuse(sw::kDataNotFound);
    switch (cmd.p2) {
    case 0x81:
        return {p_.identification, sw::kOk};
    case 0x82:
        return {Bytes{0xC8, model().code}, sw::kOk};
    case 0x83:
        return {Bytes{p_.life_cycle}, sw::kOk};
    case 0x84:
        return {ch.security.satisfied, sw::kOk};
    case 0x88: {
        if (model().generation == Generation::First)
            refuse(sw::kDataNotFound);
        Bytes list;
        for (const Bytes& entry : p_.packages)
            list.insert(list.end(), entry.begin(), entry.end());
        return {list, sw::kOk};
    }
    case 0x89:
        if (!model().has_memory_object)
            refuse(sw::kDataNotFound);
        return {memory_object(), sw::kOk};
    default:
        refuse(sw::kDataNotFound);
    }
}

Response CardOs::phase_control(const Command& cmd, Channel&)
{
    if (!cmd.data.empty())
        refuse(sw::kWrongLength);
    if (cmd.p1p2() != 0)
        refuse(sw::kWrongP1P2);
    switch (p_.life_cycle) {
    case kLifeCycleOperational:
        p_.life_cycle = kLifeCycleAdmin;
        break;
    case kLifeCycleAdmin:
        p_.life_cycle = kLifeCycleOperational;
        break;
    case kLifeCycleBlank:
        // The first generation has no FORMAT, so its blank card enters
        // administration by PHASE CONTROL; the second generation leaves 34
        // only by FORMAT.
        if (model().generation != Generation::First)
            refuse(sw::kConditionsNotSatisfied);
        p_.life_cycle = kLifeCycleAdmin;
        break;
    default:
        refuse(sw::kConditionsNotSatisfied);
    }
    return {};
}

// ---------------------------------------------------------------- inspection

std::size_t CardOs::memory_free() const
{
    const std::size_t used = memory_used(p_.mf.get()) + objects_memory();
    return used >= memory_capacity() ? 0 : memory_capacity() - used;
}

const FileNode* CardOs::find(const std::vector<std::uint16_t>& path) const
{
    const FileNode* cur = p_.mf.get();
    auto it = path.begin();
    if (it != path.end() && *it == kMfFid)
        ++it;
    for (; cur != nullptr && it != path.end(); ++it)
        cur = cur->child(*it);
    return cur;
}

} // namespace ombrix::sim::card
