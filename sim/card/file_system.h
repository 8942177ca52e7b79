// Internal: the card's file tree and what the card decides about it (file
// types, access conditions, memory). Holds no per-channel state.
#pragma once

#include "sim/card.h"
#include "sim/card/model_traits.h"

#include "include/ombrix/descriptor_codes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace ombrix::sim::card {

inline constexpr std::uint16_t kMfFid = 0x3F00;
inline constexpr std::size_t kFileOverhead = 32;   // bytes of card memory per file header
inline constexpr std::size_t kMaxDepth = 8;        // MF at depth 0; DFs down to depth 7
inline constexpr std::size_t kMaxDfName = 16;
inline constexpr std::size_t kMaxSmBytes = 32;
inline constexpr std::size_t kMaxProprietary = 8;
inline constexpr std::size_t kMaxRecords = 254;    // record numbers 01 to FE

enum class FileKind { Df, Transparent, LinearFixed, LinearVariable };

// File descriptor bytes the card knows: 38 DF, 01 transparent, 05 public-key
// EF and 21 executable (both transparent in structure), 02 linear fixed,
// 04 linear variable.
std::optional<FileKind> kind_of_descriptor(std::uint8_t fdb);
std::string_view descriptor_name(std::uint8_t fdb);            // "DF", "transparent", ...
std::optional<std::uint8_t> descriptor_from_name(std::string_view name);

struct FileNode {
    std::uint16_t fid = 0;
    std::uint8_t fdb = 0x01;
    FileKind kind = FileKind::Transparent;
    std::uint16_t size = 0;         // EF: capacity in bytes; DF: the size it was created with
    std::uint8_t record_size = 0;   // linear fixed: record length; linear variable: maximum (0 = 255)
    Bytes name;                     // DF name (84), DFs only
    Bytes ac;                       // access conditions (86), one byte per operation
    Bytes sm;                       // secure-messaging descriptor (8B / CB): see sm_required
    Bytes proprietary;              // the 85 element, kept and echoed
    Bytes data;                     // transparent EF: exactly `size` bytes
    std::vector<Bytes> records;     // record EF
    FileNode* parent = nullptr;
    std::vector<std::unique_ptr<FileNode>> children;

    bool is_df() const { return kind == FileKind::Df; }
    bool is_record() const { return kind == FileKind::LinearFixed || kind == FileKind::LinearVariable; }
    FileNode* child(std::uint16_t id) const;
    std::size_t depth() const;
    bool contains(const FileNode* other) const; // `other` is this node or below it
    std::size_t record_bytes() const;           // sum of record lengths
    std::size_t max_record_length() const;
};

// A deep copy of the subtree at `node`, hung under `parent`.
std::unique_ptr<FileNode> copy_tree(const FileNode& node, FileNode* parent = nullptr);

// Card memory taken by a subtree: each file costs kFileOverhead, each EF its
// size on top.
std::size_t memory_used(const FileNode* root);

// First DF in pre-order whose name begins with `name` (ISO right-truncated
// DF name).
FileNode* find_df_by_name(FileNode* root, std::span<const std::uint8_t> name);

// Operations an access condition can govern.
enum class Op { Read, Update, Append, Delete, CreateEf, CreateDf, ChangeAc, Deactivate, Activate, CreateObject };

// Position of the access-condition byte for `op` in a file of this
// generation, or nothing when the operation is not governed by that file.
std::optional<std::size_t> ac_position(Generation generation, bool df, Op op);

// The access conditions of a file created without an 86 element.
Bytes default_ac(Model model, bool df);

inline constexpr std::uint8_t kAcAlways = descriptor::kAcAlways;
inline constexpr std::uint8_t kAcNever = descriptor::kAcNever;

// The security state of one channel: the references satisfied so far (by
// VERIFY and EXTERNAL AUTHENTICATE), each as the command's P2 named it (81
// for the local reference 01). PIN and key objects are card-wide: the local
// bit is kept, not scoped to a DF.
struct SecurityState {
    std::vector<std::uint8_t> satisfied;

    // Records `p2` as satisfied (replacing the same reference number).
    void grant(std::uint8_t p2);
    // Forgets the reference number of `p2`, local or not.
    void revoke(std::uint8_t p2);

    // An access-condition byte other than 00 and FF names a reference by its
    // number; bit 8 (the "local" bit) is not compared.
    bool satisfies(std::uint8_t ac_byte) const;
};

// Refuses with 6982 (reference not satisfied) or 6985 (never) unless the
// condition byte `ac` (00 always, FF never, else a reference) is met.
void check_condition(std::uint8_t ac, const SecurityState& state);

// The file's secure-messaging descriptor (the 8B / CB value) demands a
// protected command for `op`: its byte at the operation's access-condition
// position is present and not FF.
bool sm_required(Generation generation, const FileNode& file, Op op);

// The object records (86 of PUT DATA 6E, and its SM element) hold one byte
// per operation on the object, by these positions; the others (3 to 6, 3 to
// 8 on R22) are kept and not used.
namespace object_ac {
inline constexpr std::size_t kUse = 0;    // VERIFY of a PIN; any cryptographic use of a key
inline constexpr std::size_t kChange = 1; // CHANGE REFERENCE DATA, CHANGE KEY DATA
// A PIN: the PIN whose value resets it (00 none, FF never reset); a private
// key: GENERATE KEY PAIR into it.
inline constexpr std::size_t kReset = 2;
} // namespace object_ac

// An operation on an object: its condition byte met (6982 / 6985), and when
// the object's SM record holds a byte other than FF at `position`, the
// command protected (a plain one: 6982).
void check_object_access(std::uint8_t condition, const Bytes& sm, std::size_t position, bool secured,
                         const SecurityState& state);

// Refuses with 6982 (reference not satisfied) or 6985 (never) unless `op` is
// allowed on `file`. A condition byte that the file's element does not reach
// counts as never.
void check_access(Generation generation, const FileNode& file, Op op, const SecurityState& state);

} // namespace ombrix::sim::card
