// The file family: select, read, write, read-record, append-record,
// update-record, create-file, delete-file. A first-generation card is driven
// through COmbrixR1, any other through COmbrixR2 (with --sm for the
// protected path). The data commands select the file of -f/--name first;
// without one they work on the card's current file.
#include "tools/ombrix/card_class.h"
#include "tools/ombrix/data_io.h"
#include "tools/ombrix/file_target.h"
#include "tools/ombrix/transfer_progress.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <array>

namespace ombrix::cli {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxFile = 65535; // file sizes and offsets are 16 bits
constexpr std::size_t kReadToEndCapacity = 65536; // a file ends before this
constexpr std::size_t kRecordRoom = 256; // the most one answer carries
constexpr std::size_t kMaxRecord = 255;

std::string packed(const Bytes& b) { return format_hex(b, HexStyle::packed); }

// What every file command has: reader, --json, --sm and the file to select.
struct FileArgs {
    ReaderOption reader;
    bool as_json = false;
    bool sm = false;
    std::string file;
    std::string name;
    CLI::Option* file_option = nullptr;
    CLI::Option* name_option = nullptr;

    // `positional`: the file is the command's argument (select); otherwise -f/--file.
    void define(CLI::App& command, bool positional, const char* file_help)
    {
        add_reader_option(command, reader);
        add_json_flag(command, as_json);
        add_sm_flag(command, sm);
        file_option = positional ? command.add_option("file", file, file_help)
                                 : command.add_option("-f,--file", file, file_help);
        name_option
            = command.add_option("--name", name, "select the DF of this name (AID, hex) first");
    }

    std::optional<FileTarget> target(bool required) const
    {
        return file_target_of(file_option->count() ? std::optional(file) : std::nullopt,
            name_option->count() ? std::optional(name) : std::nullopt, required);
    }

    json report(const OpenCard& card, const std::optional<FileTarget>& target) const
    {
        return json { { "reader", card.reader() }, { "model", card.model() },
            { "file", target ? json(target->text) : json(nullptr) } };
    }
};

const char* kDataFileHelp = "select this file first: an identifier (5001), a path from the MF "
                            "(5000/5001); default: the current file";

std::string where(const std::optional<FileTarget>& target)
{
    return target ? target->text : "the current file";
}

// Opens the card, checks --sm against its generation and selects the file.
struct Prepared {
    std::unique_ptr<OpenCard> card;
    std::optional<FileTarget> target;
    SMFLAGS* sm = nullptr;
};

// `first_only`: the command exists on the first generation only (named in errors).
Prepared prepare(Context& context, const FileArgs& args, bool target_required,
    const std::string& first_only = {})
{
    Prepared p;
    p.target = args.target(target_required);
    p.card = std::make_unique<OpenCard>(context, args.reader);
    if (!first_only.empty())
        p.card->require_first_generation(first_only);
    p.sm = p.card->secure_messaging(args.sm);
    if (p.target)
        select_target(*p.card, *p.target, p.sm);
    return p;
}

void refuse_sm_on_length_prefixed(const FileArgs& args, const char* option)
{
    if (args.sm)
        throw ToolError("reading the command line",
            std::string(option) + " moves the file in plain: the library never protects it",
            kExitUsage, {}, "leave --sm out, or use the plain transfer");
}

class SelectCommand final : public Subcommand {
public:
    const char* name() const override { return "select"; }
    const char* summary() const override
    {
        return "select a file by identifier, path or DF name (the reader dialog is select-reader)";
    }
    void define(CLI::App& command) override
    {
        args_.define(
            command, true, "the file: an identifier (5001) or a path from the MF (5000/5001)");
    }
    int run(Context& context) override
    {
        const Prepared p = prepare(context, args_, true);
        if (args_.as_json) {
            json j = args_.report(*p.card, p.target);
            j["selected"] = true;
            context.io.out << j.dump(2) << "\n";
        } else {
            context.io.out << "selected " << p.target->text << "\n";
        }
        return kExitOk;
    }

private:
    FileArgs args_;
};

class ReadCommand final : public Subcommand {
public:
    const char* name() const override { return "read"; }
    const char* summary() const override
    {
        return "read a transparent file (to the end, a range, or length-prefixed)";
    }
    void define(CLI::App& command) override
    {
        args_.define(command, false, kDataFileHelp);
        command.add_option("--offset", offset_, "the first byte to show")
            ->check(CLI::Range(std::size_t { 0 }, kMaxFile));
        auto* length = command
                           .add_option("--length", length_,
                               "read this many bytes (default: to the end of the file)")
                           ->check(CLI::Range(std::size_t { 1 }, kMaxFile));
        auto* prefixed = command.add_flag("--file-length-prefixed", prefixed_,
            "the file holds a two-byte length and then the content: read the content");
        prefixed->excludes(length);
        output_.define(command);
        length_option_ = length;
    }

    int run(Context& context) override
    {
        if (prefixed_) {
            refuse_sm_on_length_prefixed(args_, "--file-length-prefixed");
            if (offset_ != 0)
                throw ToolError("reading the command line",
                    "--offset does not go with --file-length-prefixed", kExitUsage);
        }
        Prepared p = prepare(context, args_, false);
        const std::string doing = "reading " + where(p.target);
        const bool ranged = length_option_->count() > 0;
        Bytes data;
        {
            TransferProgress progress(context.io.err, context.io.err_is_terminal, doing,
                ranged ? offset_ + length_ : 0, TransferProgress::Direction::read);
            data = prefixed_ ? read_prefixed(*p.card, doing)
                : ranged     ? read_range(*p.card, p.sm, doing)
                             : read_to_end(*p.card, p.sm, doing);
        }
        if (!prefixed_) {
            if (offset_ > data.size())
                throw ToolError(doing,
                    "the file holds " + std::to_string(data.size()) + " bytes, fewer than --offset "
                        + std::to_string(offset_),
                    kExitFailure);
            data.erase(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(offset_));
        }
        output_.write(context.io, context.global.hex, data, args_.as_json);
        if (args_.as_json) {
            json j = args_.report(*p.card, p.target);
            j["offset"] = offset_;
            j["length"] = data.size();
            j["length_prefixed"] = prefixed_;
            j["data"] = output_.file() ? json(nullptr) : json(packed(data));
            j["output"] = output_.file() ? json(*output_.file()) : json(nullptr);
            context.io.out << j.dump(2) << "\n";
        }
        return kExitOk;
    }

private:
    Bytes read_prefixed(OpenCard& card, const std::string& doing)
    {
        Bytes buffer(kMaxFile);
        unsigned long length = buffer.size();
        const long rc = card.first_generation()
            ? card.r1().ReadBinaryFile(buffer.data(), &length)
            : card.r2().ReadBinaryFile(buffer.data(), &length, nullptr);
        if (rc != 0)
            throw card_error(doing, rc);
        buffer.resize(std::min<unsigned long>(length, buffer.size()));
        return buffer;
    }

    // The library reads from the start of the file: the bytes before
    // --offset are read too, then dropped.
    Bytes read_range(OpenCard& card, SMFLAGS* sm, const std::string& doing)
    {
        Bytes buffer(offset_ + length_);
        unsigned long length = buffer.size();
        const long rc = card.first_generation()
            ? card.r1().ReadBinary(buffer.data(), &length)
            : card.r2().cmdREAD_BINARY(buffer.data(), &length, sm);
        if (rc != 0)
            throw card_error(doing, rc, Operation::general, sm != nullptr);
        return buffer;
    }

    Bytes read_to_end(OpenCard& card, SMFLAGS* sm, const std::string& doing)
    {
        Bytes buffer(kReadToEndCapacity);
        unsigned long length = buffer.size();
        const long rc = card.first_generation()
            ? card.r1().ReadBinaryEx(buffer.data(), &length)
            : card.r2().ReadBinaryEx(buffer.data(), &length, sm);
        if (rc != 0)
            throw card_error(doing, rc, Operation::general, sm != nullptr);
        buffer.resize(std::min<unsigned long>(length, buffer.size()));
        return buffer;
    }

    FileArgs args_;
    std::size_t offset_ = 0;
    std::size_t length_ = 0;
    bool prefixed_ = false;
    CLI::Option* length_option_ = nullptr;
    DataOutput output_;
};

class WriteCommand final : public Subcommand {
public:
    const char* name() const override { return "write"; }
    const char* summary() const override
    {
        return "write a transparent file from offset 0 (or as a length-prefixed file)";
    }
    void define(CLI::App& command) override
    {
        args_.define(command, false, kDataFileHelp);
        input_.define(command, "data", "data");
        command.add_flag("--length-prefixed", prefixed_,
            "write a two-byte length (high byte first) and then the data");
    }

    int run(Context& context) override
    {
        if (prefixed_)
            refuse_sm_on_length_prefixed(args_, "--length-prefixed");
        Bytes data = input_.read(context.io, prefixed_);
        if (data.size() > kMaxFile)
            throw ToolError("reading the data",
                std::to_string(data.size()) + " bytes: more than a file holds (65535)", kExitUsage);
        Prepared p = prepare(context, args_, false);
        const std::string doing = "writing " + where(p.target);
        long rc = 0;
        {
            TransferProgress progress(context.io.err, context.io.err_is_terminal, doing,
                data.size() + (prefixed_ ? 2 : 0), TransferProgress::Direction::write);
            const auto length = static_cast<unsigned long>(data.size());
            if (p.card->first_generation())
                rc = prefixed_ ? p.card->r1().WriteBinaryFile(data.data(), length)
                               : p.card->r1().UpdateBinary(data.data(), length);
            else
                rc = prefixed_ ? p.card->r2().WriteBinaryFile(data.data(), length, nullptr)
                               : p.card->r2().cmdUPDATE_BINARY(data.data(), length, p.sm);
        }
        if (rc != 0)
            throw card_error(doing, rc, Operation::general, p.sm != nullptr);
        if (args_.as_json) {
            json j = args_.report(*p.card, p.target);
            j["written"] = data.size();
            j["length_prefixed"] = prefixed_;
            context.io.out << j.dump(2) << "\n";
        } else {
            context.io.out << "wrote " << data.size() << " bytes"
                           << (prefixed_ ? " (length-prefixed)" : "") << " to " << where(p.target)
                           << "\n";
        }
        return kExitOk;
    }

private:
    FileArgs args_;
    DataInput input_;
    bool prefixed_ = false;
};

void add_record_option(CLI::App& command, int& record)
{
    command.add_option("-n,--record", record, "the record number (1 to 254)")
        ->required()
        ->check(CLI::Range(1, 254));
}

class ReadRecordCommand final : public Subcommand {
public:
    const char* name() const override { return "read-record"; }
    const char* summary() const override { return "read one record of a record file"; }
    void define(CLI::App& command) override
    {
        args_.define(command, false, kDataFileHelp);
        add_record_option(command, record_);
        output_.define(command);
    }

    int run(Context& context) override
    {
        Prepared p = prepare(context, args_, false);
        const std::string doing
            = "reading record " + std::to_string(record_) + " of " + where(p.target);
        std::array<unsigned char, kRecordRoom> buffer {};
        unsigned char length = 0;
        const auto number = static_cast<unsigned char>(record_);
        const long rc = p.card->first_generation()
            ? p.card->r1().ReadRecord(number, buffer.data(), &length)
            : p.card->r2().cmdREAD_RECORD(number, buffer.data(), &length, p.sm);
        if (rc != 0)
            throw card_error(doing, rc, Operation::general, p.sm != nullptr);
        const Bytes data(buffer.begin(), buffer.begin() + length);
        output_.write(context.io, context.global.hex, data, args_.as_json);
        if (args_.as_json) {
            json j = args_.report(*p.card, p.target);
            j["record"] = record_;
            j["data"] = output_.file() ? json(nullptr) : json(packed(data));
            j["output"] = output_.file() ? json(*output_.file()) : json(nullptr);
            context.io.out << j.dump(2) << "\n";
        }
        return kExitOk;
    }

private:
    FileArgs args_;
    int record_ = 0;
    DataOutput output_;
};

// append-record and update-record: one record out of the command line.
class WriteRecordCommand final : public Subcommand {
public:
    explicit WriteRecordCommand(bool update)
        : update_(update)
    {
    }
    const char* name() const override { return update_ ? "update-record" : "append-record"; }
    const char* summary() const override
    {
        return update_ ? "replace one record of a record file" : "append a record to a record file";
    }
    void define(CLI::App& command) override
    {
        args_.define(command, false, kDataFileHelp);
        if (update_)
            add_record_option(command, record_);
        input_.define(command, "record", "record");
    }

    int run(Context& context) override
    {
        Bytes data = input_.read(context.io);
        if (data.size() > kMaxRecord)
            throw ToolError("reading the record",
                std::to_string(data.size()) + " bytes: a record holds at most 255", kExitUsage);
        Prepared p = prepare(context, args_, false);
        const std::string doing = (update_ ? "updating record " + std::to_string(record_) + " of "
                                           : std::string("appending a record to "))
            + where(p.target);
        const auto length = static_cast<unsigned char>(data.size());
        const auto number = static_cast<unsigned char>(record_);
        long rc = 0;
        if (p.card->first_generation())
            rc = update_ ? p.card->r1().UpdateRecord(number, data.data(), length)
                         : p.card->r1().AppendRecord(data.data(), length);
        else
            rc = update_ ? p.card->r2().cmdUPDATE_RECORD(number, data.data(), length, p.sm)
                         : p.card->r2().cmdAPPEND_RECORD(data.data(), length, p.sm);
        if (rc != 0)
            throw card_error(doing, rc, Operation::general, p.sm != nullptr);
        if (args_.as_json) {
            json j = args_.report(*p.card, p.target);
            j["record"] = update_ ? json(record_) : json(nullptr);
            j["written"] = data.size();
            context.io.out << j.dump(2) << "\n";
        } else {
            context.io.out << (update_ ? "updated record " + std::to_string(record_) + " of "
                                       : std::string("appended a record of ")
                        + std::to_string(data.size()) + " bytes to ")
                           << where(p.target) << "\n";
        }
        return kExitOk;
    }

private:
    bool update_;
    FileArgs args_;
    int record_ = 0;
    DataInput input_;
};

// The file descriptor byte of --type: a name or two hex digits.
std::optional<std::uint8_t> descriptor_of(const std::string& type)
{
    static constexpr std::array<std::pair<const char*, std::uint8_t>, 4> kTypes { {
        { "transparent", 0x01 },
        { "linear-fixed", 0x02 },
        { "linear-variable", 0x04 },
        { "df", 0x38 },
    } };
    for (const auto& [name, fdb] : kTypes)
        if (type == name)
            return fdb;
    const HexParse hex = parse_hex(type);
    if (hex.ok() && hex.bytes.size() == 1)
        return hex.bytes[0];
    return std::nullopt;
}

Bytes fid_of(const std::string& text)
{
    const HexParse hex = parse_hex(text);
    if (!hex.ok() || hex.bytes.size() != 2)
        throw ToolError("reading the command line",
            "\"" + text + "\": a file identifier is 4 hex digits", kExitUsage);
    return hex.bytes;
}

class CreateFileCommand final : public Subcommand {
public:
    const char* name() const override { return "create-file"; }
    const char* summary() const override
    {
        return "create a file in the current DF (first generation)";
    }
    void define(CLI::App& command) override
    {
        args_.define(command, false, "select this DF first (default: the current DF)");
        command.add_option("fid", fid_, "the new file's identifier (4 hex digits)")->required();
        command.add_option("--size", size_, "the file size in bytes (0 to 65535)")
            ->required()
            ->check(CLI::Range(0L, static_cast<long>(kMaxFile)));
        command.add_option("--type", type_,
            "transparent (default), linear-fixed, linear-variable, df, or the descriptor byte in "
            "hex");
        command
            .add_option("--record-size", record_size_,
                "the record size (linear-fixed) or the longest record")
            ->check(CLI::Range(0, 255));
        command.add_flag("--pin-protected", pin_protected_,
            "every access needs security reference 01 (the card's PIN); default: free access");
    }

    int run(Context& context) override
    {
        const auto fdb = descriptor_of(type_);
        if (!fdb)
            throw ToolError("reading the command line", "--type \"" + type_ + "\": not a file type",
                kExitUsage, {}, "transparent, linear-fixed, linear-variable, df, or a byte in hex");
        Bytes fid = fid_of(fid_);
        Prepared p = prepare(context, args_, false, "creating file " + fid_);
        // CreateFileA: access flag 0 puts reference 01 on every access byte, any other value 00.
        const int access_flag = pin_protected_ ? 0 : 1;
        const long rc = p.card->r1().CreateFileA(
            *fdb, access_flag, size_, fid.data(), static_cast<unsigned char>(record_size_));
        const std::string text = format_hex(fid, HexStyle::packed);
        if (rc != 0)
            throw card_error("creating file " + text, rc);
        if (args_.as_json) {
            json j = args_.report(*p.card, p.target);
            j["created"] = text;
            j["size"] = size_;
            j["descriptor"] = format_hex(std::span(&*fdb, 1), HexStyle::packed);
            j["pin_protected"] = pin_protected_;
            context.io.out << j.dump(2) << "\n";
        } else {
            context.io.out << "created " << text << " (" << type_ << ", " << size_ << " bytes) in "
                           << (p.target ? p.target->text : "the current DF") << "\n";
        }
        return kExitOk;
    }

private:
    FileArgs args_;
    std::string fid_;
    long size_ = 0;
    std::string type_ = "transparent";
    int record_size_ = 0;
    bool pin_protected_ = false;
};

class DeleteFileCommand final : public Subcommand {
public:
    const char* name() const override { return "delete-file"; }
    const char* summary() const override { return "delete a file of the current DF"; }
    void define(CLI::App& command) override
    {
        args_.define(command, false, "select this DF first (default: the current DF)");
        command.add_option("fid", fid_, "the identifier of the file to delete (4 hex digits)")
            ->required();
    }

    int run(Context& context) override
    {
        Bytes fid = fid_of(fid_);
        Prepared p = prepare(context, args_, false);
        const std::string text = format_hex(fid, HexStyle::packed);
        const long rc = p.card->first_generation() ? p.card->r1().DeleteFileA(fid.data())
                                                   : p.card->r2().cmdDELETE_FILE(fid.data(), p.sm);
        if (rc != 0)
            throw card_error("deleting file " + text, rc, Operation::general, p.sm != nullptr);
        if (args_.as_json) {
            json j = args_.report(*p.card, p.target);
            j["deleted"] = text;
            context.io.out << j.dump(2) << "\n";
        } else {
            context.io.out << "deleted " << text << "\n";
        }
        return kExitOk;
    }

private:
    FileArgs args_;
    std::string fid_;
};

} // namespace

void add_file_commands(Subcommands& out)
{
    out.push_back(std::make_unique<SelectCommand>());
    out.push_back(std::make_unique<ReadCommand>());
    out.push_back(std::make_unique<WriteCommand>());
    out.push_back(std::make_unique<ReadRecordCommand>());
    out.push_back(std::make_unique<WriteRecordCommand>(false));
    out.push_back(std::make_unique<WriteRecordCommand>(true));
    out.push_back(std::make_unique<CreateFileCommand>());
    out.push_back(std::make_unique<DeleteFileCommand>());
}

} // namespace ombrix::cli
