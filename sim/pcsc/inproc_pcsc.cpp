// The in-process PC/SC: the state behind the SCard* entry points.
#include "sim/pcsc/inproc_pcsc.h"

#include "platform/pcsc.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <set>

namespace ombrix::sim {

namespace {

constexpr DWORD kEventCounterShift = 16;

struct Fault {
    int skip;
    int times; // InprocPcsc::kAlways for every call
    long error;
};

struct Handle {
    SCARDCONTEXT context;
    VirtualReader* reader;
    unsigned generation; // card_generation_ at connect time
    DWORD protocol;
    bool reset_pending = false;
    bool in_transaction = false;
};

// memcpy that accepts empty ranges with null pointers.
void copy_bytes(void* to, const void* from, std::size_t n)
{
    if (n != 0)
        std::memcpy(to, from, n);
}

struct ContextState {
    unsigned cancel_epoch = 0;
};

} // namespace

std::string_view call_name(PcscCall call)
{
    static constexpr std::string_view names[kPcscCallCount] = {
        "SCardEstablishContext", "SCardReleaseContext", "SCardListReaders", "SCardConnect",
        "SCardReconnect", "SCardDisconnect", "SCardBeginTransaction", "SCardEndTransaction",
        "SCardTransmit", "SCardGetAttrib", "SCardGetStatusChange", "SCardCancel",
        "SCardFreeMemory", "SCardStatus"};
    return names[static_cast<int>(call)];
}

struct InprocPcsc::Impl {
    mutable std::mutex mutex;
    std::condition_variable changed; // reader state, cancel, release, service
    std::deque<std::unique_ptr<VirtualReader>> readers;
    std::map<SCARDCONTEXT, ContextState> contexts;
    std::map<SCARDHANDLE, Handle> handles;
    std::set<void*> allocations;
    std::vector<Fault> faults[kPcscCallCount];
    int call_counts[kPcscCallCount] = {};
    std::vector<Exchange> log;
    bool service_stopped = false;
    unsigned service_epoch = 0;
    SCARDCONTEXT next_context = 0x1000;
    SCARDHANDLE next_handle = 0x20000;
    std::function<void(const std::string&)> wait_hook;
    std::function<void(const Exchange&)> transmit_hook;

    // Counts the call and answers an injected fault or the stopped service.
    long enter(PcscCall call)
    {
        const int index = static_cast<int>(call);
        ++call_counts[index];
        auto& queue = faults[index];
        if (!queue.empty()) {
            Fault& fault = queue.front();
            if (fault.skip > 0) {
                --fault.skip;
            } else {
                const long error = fault.error;
                if (fault.times != kAlways && --fault.times <= 0)
                    queue.erase(queue.begin());
                return error;
            }
        }
        if (service_stopped)
            return static_cast<long>(SCARD_E_NO_SERVICE);
        return SCARD_S_SUCCESS;
    }

    VirtualReader* find_reader(std::string_view name)
    {
        for (auto& r : readers)
            if (r->name() == name)
                return r.get();
        return nullptr;
    }

    // The handle, or the error a call on it answers.
    long check_handle(SCARDHANDLE card, Handle*& out)
    {
        auto it = handles.find(card);
        if (it == handles.end())
            return static_cast<long>(SCARD_E_INVALID_HANDLE);
        Handle& h = it->second;
        if (!h.reader->card_ || h.generation != h.reader->card_generation_)
            return static_cast<long>(SCARD_W_REMOVED_CARD);
        if (h.reset_pending)
            return static_cast<long>(SCARD_W_RESET_CARD);
        out = &h;
        return SCARD_S_SUCCESS;
    }

    DWORD reader_state(const VirtualReader& r) const
    {
        const DWORD counter = static_cast<DWORD>(r.event_count_ & 0xFFFF) << kEventCounterShift;
        if (r.unavailable_)
            return SCARD_STATE_UNAVAILABLE | SCARD_STATE_IGNORE | counter;
        DWORD state = r.card_ ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY;
        if (r.card_ && r.exclusive_)
            state |= SCARD_STATE_EXCLUSIVE;
        return state | (static_cast<DWORD>(r.event_count_ & 0xFFFF) << kEventCounterShift);
    }

    void reader_changed(VirtualReader& r)
    {
        ++r.event_count_;
        changed.notify_all();
    }
};

// -- readers -------------------------------------------------------------------

void VirtualReader::insert(std::shared_ptr<Card> card)
{
    auto& impl = InprocPcsc::instance().impl();
    {
        std::lock_guard lock(impl.mutex);
        card_ = std::move(card);
        ++card_generation_;
        if (card_)
            card_->reset();
        impl.reader_changed(*this);
    }
}

void VirtualReader::remove()
{
    auto& impl = InprocPcsc::instance().impl();
    std::lock_guard lock(impl.mutex);
    if (card_)
        card_->power_off();
    card_.reset();
    ++card_generation_;
    impl.reader_changed(*this);
}

bool VirtualReader::has_card() const
{
    std::lock_guard lock(InprocPcsc::instance().impl().mutex);
    return card_ != nullptr;
}

std::shared_ptr<Card> VirtualReader::card() const
{
    std::lock_guard lock(InprocPcsc::instance().impl().mutex);
    return card_;
}

void VirtualReader::set_held_exclusively(bool held)
{
    auto& impl = InprocPcsc::instance().impl();
    std::lock_guard lock(impl.mutex);
    exclusive_ = held;
    impl.reader_changed(*this);
}

void VirtualReader::set_unavailable(bool unavailable)
{
    auto& impl = InprocPcsc::instance().impl();
    std::lock_guard lock(impl.mutex);
    unavailable_ = unavailable;
    impl.reader_changed(*this);
}

void VirtualReader::set_protocol(unsigned long protocol)
{
    std::lock_guard lock(InprocPcsc::instance().impl().mutex);
    protocol_ = protocol;
}

void VirtualReader::set_vendor(std::string vendor)
{
    std::lock_guard lock(InprocPcsc::instance().impl().mutex);
    vendor_ = std::move(vendor);
}

void VirtualReader::reset_card()
{
    auto& impl = InprocPcsc::instance().impl();
    std::lock_guard lock(impl.mutex);
    if (card_)
        card_->reset();
    for (auto& [id, h] : impl.handles)
        if (h.reader == this)
            h.reset_pending = true;
}

// -- the PC/SC object -----------------------------------------------------------

InprocPcsc::InprocPcsc() : impl_(std::make_unique<Impl>()) {}

InprocPcsc& InprocPcsc::instance()
{
    static InprocPcsc* pcsc = new InprocPcsc(); // never destroyed: threads may outlive main
    return *pcsc;
}

void InprocPcsc::reset()
{
    std::lock_guard lock(impl_->mutex);
    for (void* p : impl_->allocations)
        std::free(p);
    impl_->allocations.clear();
    impl_->handles.clear();
    impl_->contexts.clear();
    impl_->readers.clear();
    for (auto& q : impl_->faults)
        q.clear();
    std::fill(std::begin(impl_->call_counts), std::end(impl_->call_counts), 0);
    impl_->log.clear();
    impl_->service_stopped = false;
    impl_->wait_hook = nullptr;
    impl_->transmit_hook = nullptr;
    impl_->changed.notify_all();
}

VirtualReader& InprocPcsc::add_reader(std::string name)
{
    std::lock_guard lock(impl_->mutex);
    impl_->readers.push_back(std::make_unique<VirtualReader>(std::move(name)));
    return *impl_->readers.back();
}

VirtualReader& InprocPcsc::add_reader(std::string name, std::shared_ptr<Card> card)
{
    VirtualReader& r = add_reader(std::move(name));
    r.insert(std::move(card));
    return r;
}

VirtualReader& InprocPcsc::reader(std::string_view name)
{
    std::lock_guard lock(impl_->mutex);
    VirtualReader* r = impl_->find_reader(name);
    if (r == nullptr)
        std::abort(); // a test asked for a reader it never added
    return *r;
}

void InprocPcsc::fail(PcscCall call, long error, int times, int skip)
{
    std::lock_guard lock(impl_->mutex);
    impl_->faults[static_cast<int>(call)].push_back({skip, times, error});
}

void InprocPcsc::clear_faults()
{
    std::lock_guard lock(impl_->mutex);
    for (auto& q : impl_->faults)
        q.clear();
}

void InprocPcsc::stop_service()
{
    std::lock_guard lock(impl_->mutex);
    impl_->service_stopped = true;
    ++impl_->service_epoch;
    impl_->changed.notify_all();
}

void InprocPcsc::start_service()
{
    std::lock_guard lock(impl_->mutex);
    impl_->service_stopped = false;
}

std::vector<Exchange> InprocPcsc::exchanges() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->log;
}

Bytes InprocPcsc::last_command() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->log.empty() ? Bytes{} : impl_->log.back().command;
}

int InprocPcsc::calls(PcscCall call) const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->call_counts[static_cast<int>(call)];
}

int InprocPcsc::open_contexts() const
{
    std::lock_guard lock(impl_->mutex);
    return static_cast<int>(impl_->contexts.size());
}

int InprocPcsc::open_handles() const
{
    std::lock_guard lock(impl_->mutex);
    return static_cast<int>(impl_->handles.size());
}

int InprocPcsc::open_transactions() const
{
    std::lock_guard lock(impl_->mutex);
    return static_cast<int>(std::count_if(impl_->handles.begin(), impl_->handles.end(),
                                          [](const auto& h) { return h.second.in_transaction; }));
}

int InprocPcsc::outstanding_allocations() const
{
    std::lock_guard lock(impl_->mutex);
    return static_cast<int>(impl_->allocations.size());
}

void InprocPcsc::on_wait(std::function<void(const std::string&)> hook)
{
    std::lock_guard lock(impl_->mutex);
    impl_->wait_hook = std::move(hook);
}

void InprocPcsc::on_transmit(std::function<void(const Exchange&)> hook)
{
    std::lock_guard lock(impl_->mutex);
    impl_->transmit_hook = std::move(hook);
}

// -- the SCard* entry points ------------------------------------------------------

namespace {

InprocPcsc::Impl& state() { return InprocPcsc::instance().impl(); }

// Copies `data` out the PC/SC way: null buffer asks the size, SCARD_AUTOALLOCATE
// hands out memory that SCardFreeMemory releases, too small a buffer answers
// SCARD_E_INSUFFICIENT_BUFFER with the needed length.
LONG copy_out(InprocPcsc::Impl& s, const void* data, DWORD size, LPBYTE buffer, LPDWORD length)
{
    if (length == nullptr)
        return SCARD_E_INVALID_PARAMETER;
    if (buffer == nullptr) {
        *length = size;
        return SCARD_S_SUCCESS;
    }
    if (*length == SCARD_AUTOALLOCATE) {
        void* memory = std::malloc(size ? size : 1);
        if (memory == nullptr)
            return SCARD_E_NO_MEMORY;
        copy_bytes(memory, data, size);
        s.allocations.insert(memory);
        *reinterpret_cast<LPBYTE*>(buffer) = static_cast<LPBYTE>(memory);
        *length = size;
        return SCARD_S_SUCCESS;
    }
    if (*length < size) {
        *length = size;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    copy_bytes(buffer, data, size);
    *length = size;
    return SCARD_S_SUCCESS;
}

LONG establish_context(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::EstablishContext))
        return e;
    if (context == nullptr)
        return SCARD_E_INVALID_PARAMETER;
    const SCARDCONTEXT id = s.next_context++;
    s.contexts[id] = {};
    *context = id;
    return SCARD_S_SUCCESS;
}

LONG release_context(SCARDCONTEXT context)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::ReleaseContext)) {
        // pcsc-lite forgets the context on the client's side even when the
        // service is gone.
        if (s.service_stopped && e == static_cast<long>(SCARD_E_NO_SERVICE) &&
            s.contexts.erase(context) != 0) {
            std::erase_if(s.handles, [context](const auto& h) { return h.second.context == context; });
            s.changed.notify_all();
        }
        return e;
    }
    if (s.contexts.erase(context) == 0)
        return SCARD_E_INVALID_HANDLE;
    // Releasing a context closes its connections, as pcsc-lite does.
    std::erase_if(s.handles, [context](const auto& h) { return h.second.context == context; });
    s.changed.notify_all();
    return SCARD_S_SUCCESS;
}

LONG list_readers(SCARDCONTEXT context, LPCSTR, LPSTR buffer, LPDWORD length)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::ListReaders))
        return e;
    if (!s.contexts.count(context))
        return SCARD_E_INVALID_HANDLE;
    if (s.readers.empty())
        return SCARD_E_NO_READERS_AVAILABLE;
    std::string multi;
    for (auto& r : s.readers) {
        multi += r->name();
        multi.push_back('\0');
    }
    multi.push_back('\0');
    return copy_out(s, multi.data(), static_cast<DWORD>(multi.size()),
                    reinterpret_cast<LPBYTE>(buffer), length);
}

LONG connect(SCARDCONTEXT context, LPCSTR reader, DWORD, DWORD protocols, LPSCARDHANDLE card,
             LPDWORD active)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::Connect))
        return e;
    if (!s.contexts.count(context))
        return SCARD_E_INVALID_HANDLE;
    if (reader == nullptr || card == nullptr)
        return SCARD_E_INVALID_PARAMETER;
    VirtualReader* r = s.find_reader(reader);
    if (r == nullptr)
        return SCARD_E_UNKNOWN_READER;
    if (r->exclusive_)
        return SCARD_E_SHARING_VIOLATION;
    if (!r->card_)
        return SCARD_E_NO_SMARTCARD;
    const DWORD protocol = r->protocol_ ? r->protocol_ : SCARD_PROTOCOL_T1;
    if ((protocols & protocol) == 0)
        return SCARD_E_PROTO_MISMATCH;
    const SCARDHANDLE id = s.next_handle++;
    s.handles[id] = Handle{context, r, r->card_generation_, protocol};
    *card = id;
    if (active)
        *active = protocol;
    return SCARD_S_SUCCESS;
}

LONG reconnect(SCARDHANDLE card, DWORD, DWORD, DWORD init, LPDWORD active)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::Reconnect))
        return e;
    auto it = s.handles.find(card);
    if (it == s.handles.end())
        return SCARD_E_INVALID_HANDLE;
    Handle& h = it->second;
    if (!h.reader->card_ || h.generation != h.reader->card_generation_)
        return SCARD_W_REMOVED_CARD;
    if (init != SCARD_LEAVE_CARD)
        h.reader->card_->reset();
    h.reset_pending = false;
    if (active)
        *active = h.protocol;
    return SCARD_S_SUCCESS;
}

LONG disconnect(SCARDHANDLE card, DWORD disposition)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::Disconnect))
        return e;
    auto it = s.handles.find(card);
    if (it == s.handles.end())
        return SCARD_E_INVALID_HANDLE;
    Handle& h = it->second;
    if (disposition != SCARD_LEAVE_CARD && h.reader->card_ &&
        h.generation == h.reader->card_generation_)
        h.reader->card_->reset();
    s.handles.erase(it);
    return SCARD_S_SUCCESS;
}

LONG begin_transaction(SCARDHANDLE card)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::BeginTransaction))
        return e;
    Handle* h = nullptr;
    if (long e = s.check_handle(card, h))
        return e;
    h->in_transaction = true;
    return SCARD_S_SUCCESS;
}

LONG end_transaction(SCARDHANDLE card, DWORD)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::EndTransaction))
        return e;
    Handle* h = nullptr;
    if (long e = s.check_handle(card, h))
        return e;
    if (!h->in_transaction)
        return SCARD_E_NOT_TRANSACTED;
    h->in_transaction = false;
    return SCARD_S_SUCCESS;
}

LONG transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci, const BYTE* send,
              DWORD send_length, SCARD_IO_REQUEST*, BYTE* receive, LPDWORD receive_length)
{
    auto& s = state();
    std::unique_lock lock(s.mutex);
    Exchange exchange;
    exchange.pci = send_pci ? send_pci->dwProtocol : 0;
    if (send != nullptr)
        exchange.command.assign(send, send + send_length);
    long result = s.enter(PcscCall::Transmit);
    // pcsc-lite leaves a length behind after a short buffer; a small one makes
    // a caller that does not restore its capacity fail visibly.
    if (result == static_cast<long>(SCARD_E_INSUFFICIENT_BUFFER) && receive_length)
        *receive_length = 1;
    Handle* h = nullptr;
    if (result == SCARD_S_SUCCESS)
        result = s.check_handle(card, h);
    if (h != nullptr)
        exchange.reader = h->reader->name();
    if (result == SCARD_S_SUCCESS && (send == nullptr || send_pci == nullptr ||
                                      receive == nullptr || receive_length == nullptr))
        result = SCARD_E_INVALID_PARAMETER;
    if (result == SCARD_S_SUCCESS && send_pci->dwProtocol != h->protocol)
        result = SCARD_E_PROTO_MISMATCH;
    if (result == SCARD_S_SUCCESS) {
        std::shared_ptr<Card> c = h->reader->card_;
        exchange.response = c->transmit(exchange.command);
        if (exchange.response.size() > *receive_length) {
            *receive_length = static_cast<DWORD>(exchange.response.size());
            result = SCARD_E_INSUFFICIENT_BUFFER;
        } else {
            copy_bytes(receive, exchange.response.data(), exchange.response.size());
            *receive_length = static_cast<DWORD>(exchange.response.size());
        }
    }
    exchange.result = result;
    s.log.push_back(exchange);
    auto hook = s.transmit_hook;
    lock.unlock();
    if (hook)
        hook(exchange);
    return result;
}

LONG get_attrib(SCARDHANDLE card, DWORD attribute, LPBYTE buffer, LPDWORD length)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::GetAttrib))
        return e;
    Handle* h = nullptr;
    if (long e = s.check_handle(card, h))
        return e;
    if (attribute == SCARD_ATTR_ATR_STRING) {
        const Bytes atr = h->reader->card_->atr();
        return copy_out(s, atr.data(), static_cast<DWORD>(atr.size()), buffer, length);
    }
    if (attribute == SCARD_ATTR_VENDOR_NAME) {
        const std::string& vendor = h->reader->vendor_;
        return copy_out(s, vendor.data(), static_cast<DWORD>(vendor.size()), buffer, length);
    }
    return SCARD_E_UNSUPPORTED_FEATURE;
}

LONG status(SCARDHANDLE card, LPSTR names, LPDWORD names_length, LPDWORD reader_state,
            LPDWORD protocol, LPBYTE atr, LPDWORD atr_length)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::Status))
        return e;
    Handle* h = nullptr;
    if (long e = s.check_handle(card, h))
        return e;
    if (reader_state)
        *reader_state = SCARD_PRESENT | SCARD_POWERED | SCARD_NEGOTIABLE | SCARD_SPECIFIC;
    if (protocol)
        *protocol = h->protocol;
    if (names_length) {
        std::string name = h->reader->name();
        name.push_back('\0');
        name.push_back('\0');
        if (long e = copy_out(s, name.data(), static_cast<DWORD>(name.size()),
                              reinterpret_cast<LPBYTE>(names), names_length))
            return e;
    }
    if (atr_length) {
        const Bytes bytes = h->reader->card_->atr();
        if (long e = copy_out(s, bytes.data(), static_cast<DWORD>(bytes.size()), atr, atr_length))
            return e;
    }
    return SCARD_S_SUCCESS;
}

// Fills the event state of each record; true when any differs from what the
// caller believes.
bool refresh_states(InprocPcsc::Impl& s, SCARD_READERSTATEA* states, DWORD count, LONG& error)
{
    bool any = false;
    for (DWORD i = 0; i < count; ++i) {
        SCARD_READERSTATEA& rs = states[i];
        if (rs.szReader == nullptr) {
            error = SCARD_E_INVALID_PARAMETER;
            return false;
        }
        if (std::strcmp(rs.szReader, "\\\\?PnP?\\Notification") == 0) {
            rs.dwEventState = rs.dwCurrentState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
            continue;
        }
        // Like pcsc-lite: a reader the caller asks to ignore is not looked at.
        if (rs.dwCurrentState & SCARD_STATE_IGNORE) {
            rs.dwEventState = SCARD_STATE_IGNORE;
            continue;
        }
        VirtualReader* r = s.find_reader(rs.szReader);
        if (r == nullptr) {
            error = SCARD_E_UNKNOWN_READER;
            return false;
        }
        const DWORD now = s.reader_state(*r);
        const DWORD believed = rs.dwCurrentState;
        const DWORD state_bits =
            0xFFFF & ~static_cast<DWORD>(SCARD_STATE_CHANGED | SCARD_STATE_IGNORE);
        bool differs = believed == SCARD_STATE_UNAWARE ||
                       (believed & state_bits) != (now & state_bits);
        // pcsc-lite also reports a change when the event counter moved (a card
        // removed and inserted again between two waits).
        if ((believed >> kEventCounterShift) != 0 &&
            (believed >> kEventCounterShift) != (now >> kEventCounterShift))
            differs = true;
        rs.dwEventState = now | (differs ? SCARD_STATE_CHANGED : 0);
        const Bytes atr = r->card_ ? r->card_->atr() : Bytes{};
        const std::size_t n = std::min(atr.size(), sizeof rs.rgbAtr);
        copy_bytes(rs.rgbAtr, atr.data(), n);
        rs.cbAtr = static_cast<DWORD>(n);
        any = any || differs;
    }
    error = SCARD_S_SUCCESS;
    return any;
}

LONG get_status_change(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATEA* states,
                       DWORD count)
{
    auto& s = state();
    std::unique_lock lock(s.mutex);
    if (long e = s.enter(PcscCall::GetStatusChange))
        return e;
    if (!s.contexts.count(context))
        return SCARD_E_INVALID_HANDLE;
    if (count > 0 && states == nullptr)
        return SCARD_E_INVALID_PARAMETER;
    // pcsc-lite answers at once, touching nothing, when every reader is ignored.
    if (count > 0 && std::all_of(states, states + count, [](const SCARD_READERSTATEA& rs) {
            return (rs.dwCurrentState & SCARD_STATE_IGNORE) != 0;
        }))
        return SCARD_S_SUCCESS;
    const unsigned cancel_epoch = s.contexts[context].cancel_epoch;
    const unsigned service_epoch = s.service_epoch;
    for (;;) {
        LONG error = SCARD_S_SUCCESS;
        if (refresh_states(s, states, count, error))
            return SCARD_S_SUCCESS;
        if (error != SCARD_S_SUCCESS)
            return error;
        // Time is virtual here: a finite wait with nothing to report times out
        // at once (after the hook had its chance to change something).
        if (auto hook = s.wait_hook) {
            const std::string reader = count > 0 && states[0].szReader ? states[0].szReader : "";
            lock.unlock();
            hook(reader);
            lock.lock();
            if (!s.contexts.count(context))
                return SCARD_E_INVALID_HANDLE;
            if (refresh_states(s, states, count, error))
                return SCARD_S_SUCCESS;
        }
        if (timeout != INFINITE)
            return SCARD_E_TIMEOUT;
        // Checked before waiting too: a stop or a cancel that came while the
        // hook ran (the lock released) would otherwise be slept through.
        for (bool woken = false;; woken = true) {
            if (s.service_epoch != service_epoch)
                return SCARD_E_SERVICE_STOPPED;
            auto it = s.contexts.find(context);
            if (it == s.contexts.end())
                return SCARD_E_INVALID_HANDLE;
            if (it->second.cancel_epoch != cancel_epoch)
                return SCARD_E_CANCELLED;
            if (woken)
                break;
            s.changed.wait(lock);
        }
    }
}

LONG cancel(SCARDCONTEXT context)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::Cancel))
        return e;
    auto it = s.contexts.find(context);
    if (it == s.contexts.end())
        return SCARD_E_INVALID_HANDLE;
    // Like pcsc-lite: only the waits in progress end; a later wait is not affected.
    ++it->second.cancel_epoch;
    s.changed.notify_all();
    return SCARD_S_SUCCESS;
}

LONG free_memory(SCARDCONTEXT, LPCVOID memory)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (long e = s.enter(PcscCall::FreeMemory))
        return e;
    auto it = s.allocations.find(const_cast<void*>(memory));
    if (it == s.allocations.end())
        return SCARD_E_INVALID_PARAMETER;
    std::free(*it);
    s.allocations.erase(it);
    return SCARD_S_SUCCESS;
}

const SCARD_IO_REQUEST kT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST kT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};

const platform::PcscApi kInprocApi = {
    establish_context, release_context, list_readers, connect,      reconnect,
    disconnect,        begin_transaction, end_transaction, transmit, get_attrib,
    get_status_change, cancel,            free_memory,     status,   &kT0Pci,
    &kT1Pci,
};

} // namespace

const platform::PcscApi& inproc_pcsc_api() { return kInprocApi; }

} // namespace ombrix::sim
