// A selection-dialog library for the tests: its first export takes the
// classic record as the SDK declares it, keeps a copy of what it was given,
// names a reader and a card, and answers as told.
#include <windows.h>
#include <winscard.h>

#include <cstring>
#include <string>

namespace {

struct Seen {
    OPENCARDNAMEA record{};
    std::string title;
    std::string card_names; // nMaxCardNames characters and the final zero
};

Seen g_seen;
LONG g_answer = SCARD_S_SUCCESS;
int g_calls = 0;

void write_name(LPSTR buffer, DWORD capacity, const char* name)
{
    if (buffer != nullptr && capacity > std::strlen(name))
        std::strcpy(buffer, name);
}

} // namespace

extern "C" LONG WINAPI fake_select_card(LPOPENCARDNAMEA record)
{
    ++g_calls;
    g_seen.record = *record;
    g_seen.title = record->lpstrTitle ? record->lpstrTitle : "";
    g_seen.card_names.assign(record->lpstrCardNames ? record->lpstrCardNames : "",
                             record->lpstrCardNames ? record->nMaxCardNames + 1 : 0);
    if (g_answer == SCARD_S_SUCCESS) {
        write_name(record->lpstrRdr, record->nMaxRdr, "Fake Reader");
        write_name(record->lpstrCard, record->nMaxCard, "Fake Card");
    }
    return g_answer;
}

extern "C" void fake_set_answer(LONG answer) { g_answer = answer; }
extern "C" int fake_calls() { return g_calls; }
extern "C" const OPENCARDNAMEA* fake_seen(const char** title, const char** names, DWORD* names_size)
{
    *title = g_seen.title.c_str();
    *names = g_seen.card_names.data();
    *names_size = static_cast<DWORD>(g_seen.card_names.size());
    return &g_seen.record;
}
